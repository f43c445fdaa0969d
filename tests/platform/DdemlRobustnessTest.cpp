// The DDE library against partners that break the protocol, stop answering or
// left a stale socket behind, and against an unsafe run-time folder.

#include "DdemlFixture.h"
#include "platform/DdeEngine.h"
#include "platform/DdeFrame.h"
#include "platform/DdeRuntime.h"

#include <atomic>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

namespace orvane::test {
namespace {

using dde::Frame;
using dde::FrameKind;

std::string socketPath(const char* service) {
    return dde::runtimeDirPath() + "/" + dde::serviceSocketName(service);
}

sockaddr_un address(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, path.data(), path.size());
    return a;
}

int rawConnect(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un a = address(path);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void writeBytes(int fd, const std::string& bytes) {
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

std::string encode(const Frame& frame) {
    std::string bytes(dde::encodedFrameSize(frame), '\0');
    dde::encodeFrame(frame, reinterpret_cast<std::uint8_t*>(bytes.data()));
    return bytes;
}

std::string hello(const char* service, const char* topic) {
    Frame f;
    f.kind = FrameKind::Hello;
    f.version = dde::kProtocolVersion;
    f.codePage = CP_WINANSI;
    f.service = service;
    f.topic = topic;
    return encode(f);
}

// Reads one frame (blocking up to timeoutMs); false at end of stream or time-out.
bool readFrame(int fd, std::string& buffer, Frame& frame, int timeoutMs = kDefaultWaitMs) {
    for (;;) {
        std::size_t used = 0;
        if (dde::decodeFrame(reinterpret_cast<const std::uint8_t*>(buffer.data()), buffer.size(),
                             frame, used) == dde::DecodeResult::Complete) {
            // Keep the frame's bytes alive in a side copy while the caller looks at it.
            static thread_local std::string last;
            last.assign(buffer, 0, used);
            dde::decodeFrame(reinterpret_cast<const std::uint8_t*>(last.data()), last.size(), frame,
                             used);
            buffer.erase(0, used);
            return true;
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) {
            return false;
        }
        char chunk[4096];
        const ssize_t n = ::recv(fd, chunk, sizeof(chunk), 0);
        if (n <= 0) {
            return false;
        }
        buffer.append(chunk, std::size_t(n));
    }
}

// True when the peer has closed the connection (within timeoutMs).
bool peerClosed(int fd, int timeoutMs = kDefaultWaitMs) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    char c;
    return ::recv(fd, &c, 1, MSG_DONTWAIT) == 0;
}

using DdemlRobustness = DdemlFixture;

struct BadInput {
    const char* name;
    std::string bytes;
};

TEST_F(DdemlRobustness, BadFramesFromAClientEndOnlyThatConversation) {
    values["Temp"] = text("20");
    const HCONV good = connect();
    ASSERT_NE(good, 0u);
    std::string unknown("\x01\x00\x00\x00\x7F", 5);
    std::string oversized("\xFF\xFF\xFF\x7F\x04", 5);
    std::string zero("\x00\x00\x00\x00", 4);
    Frame request;
    request.kind = FrameKind::Request;
    request.item = "Temp";
    std::string badName = encode(request);
    badName[4 + 1 + 8] = char(200); // name length beyond the frame
    std::string trailing = encode(request);
    trailing.push_back('x');
    trailing[0] = char(trailing[0] + 1);
    Frame reply; // a frame only a server sends
    reply.kind = FrameKind::Reply;
    const std::vector<BadInput> inputs = {{"unknown kind", unknown},
                                          {"oversized length", oversized},
                                          {"zero length", zero},
                                          {"name beyond frame", badName},
                                          {"trailing bytes", trailing},
                                          {"server frame", encode(reply)},
                                          {"second hello", hello(kService, kTopic)},
                                          {"truncated then closed", encode(request).substr(0, 7)}};
    for (const BadInput& input : inputs) {
        SCOPED_TRACE(input.name);
        serverLog.clear();
        const int fd = rawConnect(socketPath(kService));
        ASSERT_GE(fd, 0);
        writeBytes(fd, hello(kService, kTopic));
        std::string buffer;
        Frame answer;
        ASSERT_TRUE(waitFor([&] { return serverEvents(XTYP_CONNECT_CONFIRM).size() == 1; }));
        ASSERT_TRUE(readFrame(fd, buffer, answer));
        EXPECT_EQ(answer.kind, FrameKind::Accept);
        writeBytes(fd, input.bytes);
        if (std::string(input.name) == "truncated then closed") {
            ::shutdown(fd, SHUT_WR);
        }
        ASSERT_TRUE(waitFor([&] { return serverEvents(XTYP_DISCONNECT).size() == 1; }));
        EXPECT_EQ(serverEvents(XTYP_DISCONNECT)[0].conv,
                  serverEvents(XTYP_CONNECT_CONFIRM)[0].conv);
        EXPECT_TRUE(peerClosed(fd));
        ::close(fd);
    }
    // The well-behaved conversation never noticed.
    clientLog.clear();
    startAsync(good, XTYP_REQUEST, "Temp");
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_XACT_COMPLETE).empty(); }));
    EXPECT_EQ(clientEvents(XTYP_XACT_COMPLETE)[0].data, text("20"));
    EXPECT_TRUE(clientEvents(XTYP_DISCONNECT).empty());
}

TEST_F(DdemlRobustness, GarbageBeforeTheGreetingIsDroppedSilently) {
    const int fd = rawConnect(socketPath(kService));
    ASSERT_GE(fd, 0);
    writeBytes(fd, std::string("GET / HTTP/1.0\r\n\r\n"));
    // The server drops such a connection in the same step that closes it, so
    // any callback it made has run once the close is seen.
    EXPECT_TRUE(waitFor([&] { return peerClosed(fd, 0); }));
    ::close(fd);
    EXPECT_TRUE(serverEvents(XTYP_CONNECT).empty());
    EXPECT_TRUE(serverEvents(XTYP_DISCONNECT).empty());
    EXPECT_NE(connect(), 0u);
}

TEST_F(DdemlRobustness, ClientsThatNeverGreetCannotPileUp) {
    std::vector<int> silent;
    // The server accepts them in the order they came (the backlog is far
    // larger than this), whether it wakes for each or once for all.
    for (std::size_t i = 0; i < dde::kMaxPendingGreetings + 3; ++i) {
        silent.push_back(rawConnect(socketPath(kService)));
        ASSERT_GE(silent.back(), 0);
    }
    // The oldest were dropped, the newest still wait, and real clients get in.
    EXPECT_TRUE(waitFor([&] { return peerClosed(silent.front(), 0); }));
    EXPECT_FALSE(peerClosed(silent.back(), 0));
    EXPECT_NE(connect(), 0u);
    // Each end is seen closed only after the server handled it, callbacks
    // included.
    for (const int fd : silent) {
        ::shutdown(fd, SHUT_WR);
    }
    for (std::size_t i = 0; i < silent.size(); ++i) {
        EXPECT_TRUE(waitFor([&] { return peerClosed(silent[i], 0); })) << i;
    }
    for (const int fd : silent) {
        ::close(fd);
    }
    EXPECT_TRUE(serverEvents(XTYP_DISCONNECT).empty());
}

// A server played by hand on a thread of its own, which answers the greeting
// and then does what the test says.
class RawServer {
public:
    explicit RawServer(const char* service) : m_path(socketPath(service)) {
        ::unlink(m_path.c_str());
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_un a = address(m_path);
        EXPECT_EQ(::bind(m_listen, reinterpret_cast<const sockaddr*>(&a), sizeof(a)), 0);
        EXPECT_EQ(::listen(m_listen, 4), 0);
    }
    ~RawServer() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
        ::close(m_listen);
        ::unlink(m_path.c_str());
    }
    // Accepts one client; `answer` gets the connection after the greeting.
    void serve(std::function<void(int fd)> answer, bool acceptGreeting = true) {
        m_thread = std::thread([this, answer, acceptGreeting] {
            const int fd = ::accept(m_listen, nullptr, nullptr);
            std::string buffer;
            Frame greeting;
            if (readFrame(fd, buffer, greeting) && acceptGreeting) {
                Frame accept;
                accept.kind = FrameKind::Accept;
                accept.version = dde::kProtocolVersion;
                const std::string bytes = encode(accept);
                ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            }
            answer(fd);
            ::close(fd);
        });
    }

private:
    std::string m_path;
    int m_listen = -1;
    std::thread m_thread;
};

TEST_F(DdemlRobustness, SynchronousTransactionTimesOutAgainstASilentServer) {
    RawServer silent("Silent");
    std::atomic<bool> release{false};
    std::atomic<bool> lateSent{false};
    std::atomic<int> received{0};
    silent.serve([&](int fd) {
        std::string buffer;
        Frame frame;
        while (!release) {
            if (readFrame(fd, buffer, frame, 20)) {
                ++received;
            }
        }
        // Answer the timed-out poke late: the answer must be dropped.
        Frame late;
        late.kind = FrameKind::Reply;
        late.transaction = frame.transaction;
        const std::string bytes = encode(late);
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        lateSent = true;
        // Then answer the client's next request, which arrives behind the late
        // answer, so that the client knows it has handled that one.
        Frame next;
        if (readFrame(fd, buffer, next)) {
            Frame reply;
            reply.kind = FrameKind::Reply;
            reply.transaction = next.transaction;
            reply.format = CF_TEXT;
            const std::string done = text("done");
            reply.data = reinterpret_cast<const std::uint8_t*>(done.data());
            reply.dataSize = std::uint32_t(done.size());
            const std::string answer = encode(reply);
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
        }
        peerClosed(fd);
    });
    const HSZ service = clientHsz("Silent");
    const HSZ topic = clientHsz("System");
    const HCONV conv = DdeConnect(client, service, topic, nullptr);
    ASSERT_NE(conv, 0u);
    std::string value = text("1");
    DWORD result = 0xFFFF;
    EXPECT_EQ(DdeClientTransaction(reinterpret_cast<LPBYTE>(value.data()), DWORD(value.size()),
                                   conv, clientHsz("Item"), CF_TEXT, XTYP_POKE, 200, &result),
              0u);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_POKEACKTIMEOUT);
    // The poke did go out; a starved server thread may read it only now.
    EXPECT_TRUE(waitFor([&] { return received == 1; }, kDefaultWaitMs));
    release = true;
    ASSERT_TRUE(waitFor([&] { return lateSent.load(); }, kDefaultWaitMs));
    const HDDEDATA after = DdeClientTransaction(nullptr, 0, conv, clientHsz("Item"), CF_TEXT,
                                                XTYP_REQUEST, kDefaultWaitMs, nullptr);
    ASSERT_NE(after, 0u) << "the late answer was taken for the next request's";
    EXPECT_EQ(dataBytes(after), text("done"));
    DdeFreeDataHandle(after);
    EXPECT_EQ(received, 1);
    EXPECT_TRUE(clientEvents(XTYP_XACT_COMPLETE).empty());
    EXPECT_TRUE(DdeDisconnect(conv));
}

TEST_F(DdemlRobustness, GarbageFromAServerFailsPendingTransactionsAndDisconnects) {
    RawServer broken("Broken");
    broken.serve([&](int fd) {
        std::string buffer;
        Frame frame;
        readFrame(fd, buffer, frame); // the request
        ::send(fd, "\x03\x00\x00\x00\x63zz", 7, MSG_NOSIGNAL);
        peerClosed(fd);
    });
    const HCONV conv = DdeConnect(client, clientHsz("Broken"), clientHsz("System"), nullptr);
    ASSERT_NE(conv, 0u);
    const DWORD id = startAsync(conv, XTYP_REQUEST, "Topics");
    ASSERT_TRUE(waitFor([&] { return !clientEvents(XTYP_DISCONNECT).empty(); }));
    ASSERT_EQ(clientLog.size(), 2u);
    EXPECT_EQ(clientLog[0].type, XTYP_XACT_COMPLETE);
    EXPECT_EQ(clientLog[0].data1, id);
    EXPECT_EQ(clientLog[0].lastError, DMLERR_SERVER_DIED);
    EXPECT_EQ(clientLog[1].type, XTYP_DISCONNECT);
}

TEST_F(DdemlRobustness, ConnectFailsOnABadOrMissingAnswer) {
    // The library's own wait again however the test ends.
    struct ShortConnectTimeout {
        ShortConnectTimeout() { dde::ThreadContext::setConnectTimeoutForTesting(200); }
        ~ShortConnectTimeout() { dde::ThreadContext::setConnectTimeoutForTesting(0); }
    } shortTimeout;
    {
        RawServer mute("Mute");
        mute.serve([](int fd) { peerClosed(fd, 1000); }, false);
        EXPECT_EQ(DdeConnect(client, clientHsz("Mute"), clientHsz("System"), nullptr), 0u);
        EXPECT_EQ(DdeGetLastError(client), DMLERR_NO_CONV_ESTABLISHED);
    }
    {
        RawServer chatty("Chatty");
        chatty.serve(
            [](int fd) {
                Frame accept;
                accept.kind = FrameKind::Accept;
                accept.version = dde::kProtocolVersion;
                Frame extra; // an unasked frame right behind the acceptance
                extra.kind = FrameKind::Reply;
                const std::string bytes = encode(accept) + encode(extra);
                ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
                peerClosed(fd, 1000);
            },
            false);
        // A wait long enough that only the unasked frame can end the connect,
        // however late the partner's thread gets to answer.
        dde::ThreadContext::setConnectTimeoutForTesting(kDefaultWaitMs);
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(DdeConnect(client, clientHsz("Chatty"), clientHsz("System"), nullptr), 0u);
        EXPECT_LT(clock.elapsed(), kDefaultWaitMs) << "ended by the time-out, not the answer";
    }
}

TEST_F(DdemlRobustness, StaleSocketFailsFastAndDoesNotBlockRegistration) {
    // A socket file whose server has died: bound, never listened to again.
    const std::string path = socketPath("Stale");
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const sockaddr_un a = address(path);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof(a)), 0);
        ::close(fd);
    }
    EXPECT_EQ(DdeConnect(client, clientHsz("Stale"), clientHsz("System"), nullptr), 0u);
    EXPECT_EQ(DdeGetLastError(client), DMLERR_NO_CONV_ESTABLISHED);

    const HSZ name = serverHsz("stale");
    ASSERT_NE(DdeNameService(server, name, 0, DNS_REGISTER), 0u);
    EXPECT_NE(DdeConnect(client, clientHsz("STALE"), clientHsz("System"), nullptr), 0u);

    // While it lives, nobody else may take the name.
    DWORD rival = 0;
    ASSERT_EQ(DdeInitialize(
                  &rival,
                  [](UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) -> HDDEDATA {
                      return 0;
                  },
                  0, 0),
              DMLERR_NO_ERROR);
    const HSZ rivalName = DdeCreateStringHandle(rival, "Stale", CP_WINANSI);
    EXPECT_EQ(DdeNameService(rival, rivalName, 0, DNS_REGISTER), 0u);
    EXPECT_EQ(DdeGetLastError(rival), DMLERR_DLL_USAGE);
    // Once it is unregistered, the name is free and new clients find nothing.
    ASSERT_NE(DdeNameService(server, name, 0, DNS_UNREGISTER), 0u);
    EXPECT_EQ(DdeConnect(client, clientHsz("Stale"), clientHsz("System"), nullptr), 0u);
    EXPECT_NE(DdeNameService(rival, rivalName, 0, DNS_REGISTER), 0u);
    DdeUninitialize(rival);
}

TEST(DdemlRunTimeFolder, UnsafeFoldersAreRefused) {
    // The test's own folder again however the test ends.
    struct SavedFolder {
        QByteArray saved = qgetenv("ORVANE_DDE_DIR");
        ~SavedFolder() { qputenv("ORVANE_DDE_DIR", saved); }
    } savedFolder;
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const auto init = [](const QString& dir) {
        qputenv("ORVANE_DDE_DIR", dir.toLocal8Bit());
        DWORD inst = 0;
        const UINT result = DdeInitialize(
            &inst,
            [](UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) -> HDDEDATA {
                return 0;
            },
            APPCMD_CLIENTONLY, 0);
        if (inst != 0) {
            DdeUninitialize(inst);
        }
        return result;
    };
    const QString open = root.filePath("open");
    QDir().mkpath(open);
    ::chmod(open.toLocal8Bit().constData(), 0755);
    EXPECT_EQ(init(open), DMLERR_SYS_ERROR);

    const QString groupWritable = root.filePath("group");
    QDir().mkpath(groupWritable);
    ::chmod(groupWritable.toLocal8Bit().constData(), 0770);
    EXPECT_EQ(init(groupWritable), DMLERR_SYS_ERROR);

    const QString link = root.filePath("link");
    const QString target = root.filePath("target");
    QDir().mkpath(target);
    ::chmod(target.toLocal8Bit().constData(), 0700);
    ASSERT_EQ(::symlink(target.toLocal8Bit().constData(), link.toLocal8Bit().constData()), 0);
    EXPECT_EQ(init(link), DMLERR_SYS_ERROR);

    // A missing folder is created private.
    const QString fresh = root.filePath("fresh");
    EXPECT_EQ(init(fresh), DMLERR_NO_ERROR);
    struct stat st {};
    ASSERT_EQ(::stat(fresh.toLocal8Bit().constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

} // namespace
} // namespace orvane::test
