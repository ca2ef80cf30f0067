"""What the robustness tests share with the end-to-end tests, and a few figures of their own."""
import os
import resource
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

# Under a sanitizer every server thread costs many times more: the crowds shrink, the checks stay.
HEAVY = not os.environ.get("TOLVANE_SANITIZER")


def kib_field(path, name):
    """The KiB figure of a "Name:  N kB" line of a /proc file, or 0."""
    with open(path) as f:
        for line in f:
            if line.startswith(name + ":"):
                return int(line.split()[1])
    return 0


def resident_kib(pid):
    return kib_field("/proc/%d/status" % pid, "VmRSS")


def proportional_kib(pid):
    return kib_field("/proc/%d/smaps_rollup" % pid, "Pss")


def raise_descriptor_limit(needed):
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < needed:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(hard, needed), hard))
    return resource.getrlimit(resource.RLIMIT_NOFILE)[0] >= needed
