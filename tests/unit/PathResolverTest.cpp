#include "ftp/PathResolver.h"

#include <gtest/gtest.h>

namespace tolvane::ftp {
namespace {

using namespace std::string_literals;

constexpr std::string_view kHome = "/srv/ftp/";
constexpr std::string_view kPub = "/srv/ftp/pub/";

struct Case {
    std::string argument;
    std::string expected;  // empty when refused
    PathRefusal refusal = PathRefusal::None;
};

void ExpectDirectories(const PathResolver& resolver, const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        const ResolvedDirectory result = resolver.ResolveDirectory(c.argument);
        EXPECT_EQ(result.refusal, c.refusal) << '"' << c.argument << '"';
        EXPECT_EQ(result.path, c.expected) << '"' << c.argument << '"';
    }
}

void ExpectEntry(const PathResolver& resolver, const std::string& argument, const std::string& directory,
                 const std::string& name) {
    const ResolvedEntry entry = resolver.ResolveEntry(argument);
    EXPECT_FALSE(entry.Refused()) << argument;
    EXPECT_EQ(entry.directory, directory) << argument;
    EXPECT_EQ(entry.name, name) << argument;
    EXPECT_EQ(entry.path, directory + name) << argument;
}

TEST(PathResolverTest, NormaliseCollapsesSeparatorsAndDots) {
    EXPECT_EQ(PathResolver::Normalise("/srv//ftp/./pub/"), "/srv/ftp/pub/");
    EXPECT_EQ(PathResolver::Normalise("/srv/ftp/pub/.."), "/srv/ftp/");
    EXPECT_EQ(PathResolver::Normalise("/srv/ftp/a.txt"), "/srv/ftp/a.txt");
    EXPECT_EQ(PathResolver::Normalise("/../../etc"), "/etc");
    EXPECT_EQ(PathResolver::Normalise("//"), "/");
}

TEST(PathResolverTest, RelativeModeStaysInsideHome) {
    const PathResolver resolver(kHome, kPub, true);
    ExpectDirectories(resolver, {
        {"..", "/srv/ftp/"}, {"/", "/srv/ftp/"}, {"//", "/srv/ftp/"}, {"/./", "/srv/ftp/"},
        {".", "/srv/ftp/pub/"}, {"a//b/./c", "/srv/ftp/pub/a/b/c/"}, {"a/..", "/srv/ftp/pub/"},
        {"/etc", "/srv/ftp/etc/"}, {"/srv/ftp/pub", "/srv/ftp/srv/ftp/pub/"},
        {"../..", "", PathRefusal::Outside}, {"../../etc", "", PathRefusal::Outside},
        {"/../..", "", PathRefusal::Outside}, {"/..", "", PathRefusal::Outside},
        {"a/../../../ftpold", "", PathRefusal::Outside},
    });
    EXPECT_EQ(resolver.Parent().path, kHome);
    EXPECT_EQ(PathResolver(kHome, kHome, true).Parent().refusal, PathRefusal::Outside);
    ExpectEntry(resolver, "a.txt", "/srv/ftp/pub/", "a.txt");
    ExpectEntry(resolver, "sub/a.txt", "/srv/ftp/pub/sub/", "a.txt");
    ExpectEntry(resolver, "../x", "/srv/ftp/", "x");
    ExpectEntry(resolver, "/abs/x", "/srv/ftp/abs/", "x");
    ExpectEntry(resolver, "./new/", "/srv/ftp/pub/", "new");
    ExpectEntry(resolver, "sub//../.b", "/srv/ftp/pub/", ".b");
    for (const std::string argument : {"../../x", "../../tmp/a", "/../outside.txt", "../../../etc/passwd"}) {
        EXPECT_EQ(resolver.ResolveEntry(argument).refusal, PathRefusal::Outside) << argument;
    }
}

TEST(PathResolverTest, RelativeModeHomeWithoutFinalSlashKeepsSiblingsOut) {
    const PathResolver resolver("/srv/ftp", "/srv/ftp", true);
    EXPECT_EQ(resolver.ResolveDirectory("/").path, kHome);
    EXPECT_EQ(resolver.ResolveDirectory("../ftpold").refusal, PathRefusal::Outside);
    EXPECT_EQ(resolver.ResolveEntry("../ftpold/x").refusal, PathRefusal::Outside);
    EXPECT_TRUE(resolver.Admits("/srv/ftp"));
    EXPECT_TRUE(resolver.Admits("/srv/ftp/pub/x"));
    EXPECT_FALSE(resolver.Admits("/srv/ftpold"));
    EXPECT_FALSE(resolver.Admits("/srv/ftp/pub/../.."));
    EXPECT_FALSE(resolver.Admits("pub"));
}

TEST(PathResolverTest, FullPathModeTakesAbsolutePathsAsTheyAre) {
    const PathResolver resolver(kHome, kPub, false);
    ExpectDirectories(resolver, {
        {"/etc", "/etc/"}, {"/", "/"}, {"/../..", "/"}, {"//srv//ftp/./pub/..", "/srv/ftp/"},
        {"..", "/srv/ftp/"}, {"../../../../etc/", "/etc/"}, {"sub", "/srv/ftp/pub/sub/"},
    });
    EXPECT_EQ(PathResolver(kHome, "/", false).Parent().path, "/");
    EXPECT_EQ(PathResolver(kHome, kHome, false).Parent().path, "/srv/");
    EXPECT_TRUE(resolver.Admits("/etc"));
    ExpectEntry(resolver, "/etc/passwd", "/etc/", "passwd");
}

TEST(PathResolverTest, UnusableNamesAreRefusedInBothModes) {
    const std::string deepCurrent = std::string(kHome) + std::string(200, 'c') + '/';
    std::string deep;  // fits on its own, but not below the current directory
    for (int i = 0; i < 16; ++i) deep += std::string(250, 'd') + '/';
    for (const bool relative : {true, false}) {
        const PathResolver resolver(kHome, deepCurrent, relative);
        for (const std::string& argument :
             {""s, "..."s, "a/.../b"s, "a\0b"s, "a\rb"s, "pub\r\nDELE x"s, "a\tb"s, std::string(10000, 'x'),
              std::string(256, 'x'), "a/" + std::string(300, 'y') + "/b", deep}) {
            EXPECT_EQ(resolver.ResolveDirectory(argument).refusal, PathRefusal::Invalid) << argument.size();
            EXPECT_EQ(resolver.ResolveEntry(argument).refusal, PathRefusal::Invalid) << argument.size();
        }
        // An entry must name something below its folder.
        for (const std::string argument : {"", "/", "///", ".", "..", "....", "sub/..", "sub/.", "../.."}) {
            const ResolvedEntry entry = resolver.ResolveEntry(argument);
            EXPECT_EQ(entry.refusal, PathRefusal::Invalid) << argument;
            EXPECT_TRUE(entry.path.empty()) << argument;
        }
        EXPECT_FALSE(resolver.ResolveEntry(deep.substr(0, 3000) + "f").Refused());
    }
}

TEST(PathResolverTest, SessionWithoutAbsoluteHomeResolvesNothing) {
    const PathResolver resolver("ERROR", "ERROR", true);
    EXPECT_EQ(resolver.ResolveDirectory("/").refusal, PathRefusal::Outside);
    EXPECT_EQ(resolver.ResolveEntry("a").refusal, PathRefusal::Outside);
    EXPECT_EQ(resolver.Parent().refusal, PathRefusal::Outside);
    EXPECT_EQ(PathResolver("ERROR", "ERROR", false).ResolveEntry("a").refusal, PathRefusal::Outside);
}

}  // namespace
}  // namespace tolvane::ftp
