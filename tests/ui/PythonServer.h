#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A server written in Python (python3 -m ...) on a loopback port, ended with the test.
class PythonServer {
public:
    PythonServer(const QStringList& arguments, quint16 port) {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("python3", QStringList{"-u"} + arguments);
        QElapsedTimer waited;
        waited.start();
        while (!Listening(port) && waited.elapsed() < 10'000) QThread::msleep(50);
    }
    ~PythonServer() {
        process_.kill();
        process_.waitForFinished(5000);
    }
    PythonServer(const PythonServer&) = delete;
    PythonServer& operator=(const PythonServer&) = delete;

    QString Output() {
        output_ += QString::fromUtf8(process_.readAll());
        return output_;
    }

private:
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

    QProcess process_;
    QString output_;
};
