#include "control/ControlServer.h"
#include "RuntimeDirFixture.h"
#include "TestSupport.h"
#include "common/NorvelaError.h"
#include "control/ControlClient.h"
#include "control/ControlProtocol.h"
#include "control/RuntimeDirectory.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>

#include <QCoro/QCoroSignal>
#include <QCoro/QCoroTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace norvela;
using namespace norvela::test;
using namespace std::chrono_literals;
using Kind = ControlClient::Result::Kind;

namespace {

// Holds handlers back until the test lets them go.
class Gate : public QObject {
    Q_OBJECT
public:
    void open() {
        m_open = true;
        Q_EMIT opened();
    }
    bool isOpen() const { return m_open; }
Q_SIGNALS:
    void opened();

private:
    bool m_open = false;
};

QCoro::Task<> passThrough(std::shared_ptr<Gate> gate) {
    if (!gate->isOpen())
        co_await qCoro(gate.get(), &Gate::opened);
}

ControlClient::Result ask(QJsonObject request, std::chrono::milliseconds timeout = 10s) {
    return await(ControlClient::request(std::move(request), timeout));
}

std::unique_ptr<QLocalSocket> connectRaw(const QString& path) {
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(path);
    EXPECT_TRUE(waitFor([&] { return socket->state() == QLocalSocket::ConnectedState; }));
    return socket;
}

QJsonObject nextReply(QLocalSocket& socket) {
    if (!waitFor([&] { return socket.canReadLine(); }))
        return {};
    return ControlProtocol::decode(socket.readLine()).value_or(QJsonObject{{"undecodable", true}});
}

QByteArray line(const QJsonObject& message) {
    return ControlProtocol::encode(message);
}

sockaddr_un addressOf(const QString& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    std::memcpy(address.sun_path, native.constData(), native.size());
    return address;
}

// A socket file with nobody behind it, as a crashed instance leaves.
void leaveStaleSocket(const QString& path) {
    const sockaddr_un address = addressOf(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFile::exists(path));
}

// From a child process running as uid/gid 65534 (it may only make system calls: the parent has
// threads), connects to `address`, sends one request and reads. Gives 0 when the other end
// closes without a byte, 2 when it answers, 3 or -1 when nothing happens in time.
int requestAsNobody(const sockaddr_un& address) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0 ||
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            ::_exit(1);
        static const char request[] = "{\"v\":1,\"id\":1,\"cmd\":\"status\"}\n";
        // No SIGPIPE when the other end has already hung up.
        [[maybe_unused]] const auto sent = ::send(fd, request, sizeof request - 1, MSG_NOSIGNAL);
        pollfd wait{fd, POLLIN, 0};
        char byte;
        ::_exit(::poll(&wait, 1, 10000) != 1 ? 3 : ::read(fd, &byte, 1) <= 0 ? 0 : 2);
    }
    int status = 0;
    if (!waitFor([&] { return ::waitpid(child, &status, WNOHANG) == child; })) {
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

// What the handler saw; shared, so it outlives the server.
struct Seen {
    QStringList started, finished;
    std::map<QString, std::shared_ptr<Gate>> gates; // commands that wait until their gate opens
    std::shared_ptr<Gate> gate(const QString& cmd) {
        auto& gate = gates[cmd];
        if (!gate)
            gate = std::make_shared<Gate>();
        return gate;
    }
};

class ControlServerTest : public RuntimeDirFixture {
protected:
    QString socketPath() const { return runtimePath() + QStringLiteral("/control.sock"); }

    // Echoes "cmd" and "text" after a wait; "opens" names a gate to open, and "share" and
    // "crash" throw. Holds its state by value, as a handler must outlive its server.
    std::unique_ptr<ControlServer> listening() {
        auto server = std::make_unique<ControlServer>([seen = seen, capture = QStringLiteral("intact")](
                                                          QJsonObject request) -> QCoro::Task<QJsonObject> {
            const QString cmd = request.value("cmd").toString();
            seen->started << cmd;
            if (seen->gates.count(cmd))
                co_await passThrough(seen->gates.at(cmd));
            else
                co_await QCoro::sleepFor(1ms);
            if (request.contains("opens"))
                seen->gate(request.value("opens").toString())->open();
            seen->finished << cmd + ": " + capture;
            if (cmd == "share")
                throw NorvelaError(QStringLiteral("The file is not in a synced folder"));
            if (cmd == "crash")
                throw std::runtime_error("engine gone");
            co_return QJsonObject{{"cmd", request.value("cmd")}, {"text", request.value("text")}};
        });
        QString error;
        EXPECT_TRUE(server->listen(&error)) << error.toStdString();
        return server;
    }

    std::shared_ptr<Seen> seen = std::make_shared<Seen>();
};

TEST_F(ControlServerTest, RepliesCarryTheHandlersPayloadOrWhatItThrew) {
    auto server = listening();
    EXPECT_EQ(server->socketPath(), socketPath());
    EXPECT_EQ(fileMode(socketPath()), 0600);

    const auto first = ask({{"cmd", "status"}, {"text", "héllo ✓\nline"}});
    ASSERT_EQ(first.kind, Kind::replied) << first.error.toStdString();
    EXPECT_TRUE(first.ok());
    EXPECT_EQ(first.reply.value("v").toInt(), 1);
    EXPECT_EQ(first.reply.value("cmd").toString(), "status");
    EXPECT_EQ(first.reply.value("text").toString(), "héllo ✓\nline");

    const auto share = ask({{"cmd", "share"}});
    EXPECT_EQ(share.kind, Kind::replied);
    EXPECT_FALSE(share.reply.value("ok").toBool(true));
    EXPECT_EQ(share.error, "The file is not in a synced folder");
    EXPECT_EQ(share.reply.value("error").toString(), share.error);
    EXPECT_NE(share.reply.value("id").toInt(), first.reply.value("id").toInt());
    const auto crash = ask({{"cmd", "crash"}});
    EXPECT_EQ(crash.kind, Kind::replied);
    EXPECT_EQ(crash.error, "engine gone");
}

TEST_F(ControlServerTest, BadLinesGetFailedRepliesAndTheConnectionStaysUsable) {
    auto server = listening();
    auto socket = connectRaw(socketPath());
    socket->write("this is not json\n");
    socket->write(line({{"v", 2}, {"id", 7}, {"cmd", "status"}}));
    socket->write(line({{"id", 8}, {"cmd", "status"}}));
    socket->write(line({{"v", 1}, {"id", 9}}));
    socket->write("[1,2,3]\n");
    socket->write(line({{"v", 1}, {"id", 10}, {"cmd", "status"}}));

    const QJsonObject garbage = nextReply(*socket);
    EXPECT_FALSE(garbage.value("ok").toBool(true));
    EXPECT_FALSE(garbage.contains("id"));
    EXPECT_FALSE(garbage.value("error").toString().isEmpty());
    for (int id : {7, 8, 9}) {
        const QJsonObject reply = nextReply(*socket);
        EXPECT_EQ(reply.value("id").toInt(), id);
        EXPECT_EQ(reply.value("ok"), false);
        EXPECT_EQ(reply.value("v").toInt(), 1);
    }
    EXPECT_EQ(nextReply(*socket).value("ok"), false);
    const QJsonObject good = nextReply(*socket);
    EXPECT_EQ(good.value("id").toInt(), 10);
    EXPECT_EQ(good.value("ok"), true);
    EXPECT_EQ(good.value("cmd"), "status");
    EXPECT_EQ(seen->started, QStringList{"status"});
}

TEST_F(ControlServerTest, OneConnectionIsAnsweredInOrderWhileAnotherIsServed) {
    auto server = listening();
    seen->gate("slow");
    auto socket = connectRaw(socketPath());
    socket->write(line({{"v", 1}, {"id", 1}, {"cmd", "slow"}}) +
                  line({{"v", 1}, {"id", 2}, {"cmd", "fast"}}));
    ASSERT_TRUE(waitFor([&] { return !seen->started.isEmpty(); }));
    processEvents();
    EXPECT_EQ(seen->started, QStringList{"slow"});
    EXPECT_FALSE(socket->canReadLine());

    // Served one client at a time, this would hang: only its request lets the first go.
    EXPECT_TRUE(ask({{"cmd", "other"}, {"opens", "slow"}}).ok());
    EXPECT_EQ(nextReply(*socket).value("id").toInt(), 1);
    EXPECT_EQ(nextReply(*socket).value("id").toInt(), 2);
    EXPECT_EQ(seen->started, (QStringList{"slow", "other", "fast"}));
}

TEST_F(ControlServerTest, ALineOverOneMebibyteClosesTheConnection) {
    auto server = listening();
    // Exactly at the limit is still answered.
    QJsonObject big{{"v", 1}, {"id", 1}, {"cmd", "status"}, {"text", ""}};
    const qsizetype padding = ControlProtocol::maxLineBytes - (line(big).size() - 1);
    big["text"] = QString(padding, QLatin1Char('x'));
    ASSERT_EQ(line(big).size(), ControlProtocol::maxLineBytes + 1);
    auto socket = connectRaw(socketPath());
    // The newline only once the server holds the rest, so it sees a full line without one.
    socket->write(line(big).chopped(1));
    ASSERT_TRUE(waitFor([&] { return socket->bytesToWrite() == 0; }));
    processEvents();
    socket->write("\n");
    EXPECT_EQ(nextReply(*socket).value("text").toString().size(), padding);

    big["text"] = QString(padding + 1, QLatin1Char('x'));
    socket->write(line(big));
    EXPECT_TRUE(waitFor([&] { return socket->state() == QLocalSocket::UnconnectedState; }));
    EXPECT_FALSE(socket->canReadLine());
    EXPECT_TRUE(ask({{"cmd", "status"}}).ok()); // the server itself carries on
}

TEST_F(ControlServerTest, AClientOrTheServerGoingMidRequestIsHarmless) {
    auto server = listening();
    auto leaving = connectRaw(socketPath());
    seen->gate("left");
    leaving->write(line({{"v", 1}, {"id", 1}, {"cmd", "left"}}));
    ASSERT_TRUE(waitFor([&] { return seen->started.contains("left"); }));
    leaving->abort();
    processEvents();
    seen->gate("left")->open();
    ASSERT_TRUE(waitFor([&] { return seen->finished.contains("left: intact"); }));
    EXPECT_TRUE(ask({{"cmd", "after"}}).ok());

    // The server goes while a handler waits: the client learns it, and the handler still ends
    // with its captures intact.
    seen->gate("orphaned");
    auto pending = ControlClient::request({{"cmd", "orphaned"}});
    ASSERT_TRUE(waitFor([&] { return seen->started.contains("orphaned"); }));
    server.reset();
    EXPECT_FALSE(QFile::exists(socketPath()));
    const auto result = await(std::move(pending));
    EXPECT_EQ(result.kind, Kind::failed);
    seen->gate("orphaned")->open();
    EXPECT_TRUE(waitFor([&] { return seen->finished.contains("orphaned: intact"); }));
}

TEST_F(ControlServerTest, ReplacesAStaleSocketButNeverALiveOne) {
    ASSERT_TRUE(RuntimeDirectory::ensure());
    leaveStaleSocket(socketPath());
    auto first = std::make_unique<ControlServer>([](QJsonObject) -> QCoro::Task<QJsonObject> {
        co_return QJsonObject{{"who", 1}};
    });
    ASSERT_TRUE(first->listen(nullptr));
    ASSERT_EQ(ask({{"cmd", "status"}}).reply.value("who").toInt(), 1);

    ControlServer second([](QJsonObject) -> QCoro::Task<QJsonObject> { co_return QJsonObject{{"who", 2}}; });
    QString error;
    EXPECT_FALSE(second.listen(&error));
    EXPECT_TRUE(error.contains(socketPath())) << error.toStdString();
    {
        // Giving up must not take the live socket file with it.
        ControlServer third([](QJsonObject) -> QCoro::Task<QJsonObject> { co_return QJsonObject{}; });
        EXPECT_FALSE(third.listen(nullptr));
    }
    EXPECT_EQ(ask({{"cmd", "status"}}).reply.value("who").toInt(), 1);

    first.reset();
    EXPECT_TRUE(second.listen(&error)) << error.toStdString();
    EXPECT_EQ(ask({{"cmd", "status"}}).reply.value("who").toInt(), 2);
}

TEST_F(ControlServerTest, ClientTellsNothingRunningFromFailures) {
    EXPECT_EQ(ask({{"cmd", "status"}}).kind, Kind::notRunning); // no socket file
    ASSERT_TRUE(RuntimeDirectory::ensure());
    leaveStaleSocket(socketPath());
    EXPECT_EQ(ask({{"cmd", "status"}}).kind, Kind::notRunning); // nobody behind it
    ASSERT_TRUE(QFile::remove(socketPath()));

    // Something that hangs up without answering, or answers garbage.
    QLocalServer raw;
    ASSERT_TRUE(raw.listen(socketPath()));
    QByteArray answer;
    QObject::connect(&raw, &QLocalServer::newConnection, [&] {
        QLocalSocket* socket = raw.nextPendingConnection();
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, &answer] {
            if (!socket->canReadLine())
                return;
            socket->write(answer);
            socket->disconnectFromServer();
        });
    });
    const auto hungUp = ask({{"cmd", "status"}});
    EXPECT_EQ(hungUp.kind, Kind::failed);
    EXPECT_FALSE(hungUp.error.isEmpty());
    answer = "{\"v\":1,\"id\":-5,\"ok\":true}\n";
    EXPECT_EQ(ask({{"cmd", "status"}}).kind, Kind::failed);
    raw.close();

    // A running instance that takes longer than the caller waits.
    auto server = listening();
    seen->gate("slow");
    const auto late = ask({{"cmd", "slow"}}, 100ms);
    EXPECT_EQ(late.kind, Kind::failed);
    EXPECT_TRUE(late.error.contains("in time")) << late.error.toStdString();
    seen->gate("slow")->open();
    processEvents();
}

TEST_F(ControlServerTest, DropsAnotherUsersConnectionUnread) {
    EXPECT_FALSE(ControlProtocol::peerIsSameUser(-1)); // a peer it cannot ask about is refused
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to connect as another user";
    auto server = listening();
    // Opened up so the other user can reach the socket at all; only the peer check stops it.
    for (const QString& path : {xdgPath(), runtimePath()})
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0711), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(socketPath()).constData(), 0666), 0);
    EXPECT_EQ(requestAsNobody(addressOf(socketPath())), 0);
    EXPECT_TRUE(seen->started.isEmpty());
    EXPECT_TRUE(ask({{"cmd", "status"}}).ok());
}

#include "ControlServerTest.moc"
