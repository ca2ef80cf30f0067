#pragma once

#include "TempFolder.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

// A server written in Python (python3 -u ARGUMENTS) on a loopback port, ended with the test.
// Spawned without fork, which a process under ThreadSanitizer may not do once it has threads.
class PythonServer {
public:
    PythonServer(const QStringList& arguments, quint16 port) {
        std::vector<std::string> words{"python3", "-u"};
        for (const QString& argument : arguments) words.push_back(argument.toStdString());
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string output = OutputFile();
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        QElapsedTimer waited;
        waited.start();
        while (pid_ > 0 && !Listening(port) && waited.elapsed() < 10'000) QThread::msleep(50);
    }
    ~PythonServer() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;

    // What the server has printed so far.
    QString Output() const { return QString::fromStdString(ReadText(OutputFile())); }

private:
    std::string OutputFile() const { return (folder_.path() / "output.txt").string(); }

    static bool Listening(quint16 port) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return connected;
    }

    TempFolder folder_;
    pid_t pid_ = -1;
};
