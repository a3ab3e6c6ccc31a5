// The web server's threads, on 127.0.0.1: clients on threads of their own,
// answers given from other threads (at once, later, after the client has
// gone, while the server closes), and a close that leaves no thread or
// socket of the server behind.  It runs under ThreadSanitizer with the
// engine tests.  Waits are for conditions; their deadlines only guard
// against a hang.
#include "platform/network/HttpService.h"

#include "audio/EventLoop.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>

using namespace vozaro::platform;
using namespace std::chrono_literals;

namespace {

std::ptrdiff_t entries(const char* folder) {
    return std::distance(std::filesystem::directory_iterator(folder), {});
}

int serverThreads() {
    int count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::string name;
        std::getline(std::ifstream(task.path() / "comm"), name);
        count += name == "vozaro-http";
    }
    return count;
}

// A connection to 127.0.0.1:port (that resets on close when `reset`), or -1.
int dial(int port, bool reset = false) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval limit{10, 0};
    const linger abortive{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (reset)
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
        return fd;
    ::close(fd);
    return -1;
}

void request(int fd, const std::string& path, bool last) {
    const std::string request = "GET " + path + " HTTP/1.1\r\n" + (last ? "Connection: close\r\n" : "") + "\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
}

// The body of the next answer; "" when the connection ends first, "hang"
// when nothing comes.
std::string answer(int fd) {
    std::string in;
    for (char buffer[4096];;) {
        const auto end = in.find("\r\n\r\n"), length = in.find("Content-Length: ");
        if (end != std::string::npos && in.size() >= end + 4 + std::stoul(in.substr(length + 16)))
            return in.substr(end + 4, std::stoul(in.substr(length + 16)));
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return n < 0 && errno == EAGAIN ? "hang" : "";
        in.append(buffer, static_cast<std::size_t>(n));
    }
}

// The handler's side: "/now" and "/later" go to two answering threads, the
// others are kept for the test to answer.
struct Answers {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::pair<std::string, HttpResponder>> queue;
    std::map<std::string, HttpResponder> kept;
    int calls = 0;
    bool stop = false;

    void handle(const HttpRequest& request, HttpResponder respond) {
        const std::string path = request.path.toStdString();
        const std::lock_guard lock(mutex);
        ++calls;
        if (path.starts_with("/now") || path.starts_with("/later"))
            queue.emplace_back(path, std::move(respond));
        else
            kept.emplace(path, std::move(respond));
        changed.notify_all();
    }
    void answerQueued() {
        std::unique_lock lock(mutex);
        while (changed.wait(lock, [&] { return stop || !queue.empty(); }), !queue.empty()) {
            auto [path, respond] = std::move(queue.front());
            queue.pop_front();
            lock.unlock();
            if (path.starts_with("/later"))
                std::this_thread::sleep_for(2ms);
            respond({200, "text/plain", QByteArray::fromStdString(path)});
            lock.lock();
        }
    }
    HttpResponder take(const std::string& path) {
        std::unique_lock lock(mutex);
        const bool come = changed.wait_for(lock, 10s, [&] { return kept.count(path) > 0; });
        return come ? std::exchange(kept[path], nullptr) : nullptr;
    }
};

}  // namespace

TEST(HttpServiceThreads, AnswersComeFromAnyThreadAndCloseLeavesNothingRunning) {
    vozaro::test::ensureApplication();
    const auto filesBefore = entries("/proc/self/fd");
    Answers answers;
    auto server = makeHttpService([&](const HttpRequest& r, HttpResponder respond) { answers.handle(r, respond); });
    const int port = server->listen(20000 + ::getpid() % 20000, 65535, true);
    ASSERT_GT(port, 0);
    EXPECT_EQ(serverThreads(), 1);
    std::thread answering[] = {std::thread([&] { answers.answerQueued(); }), std::thread([&] { answers.answerQueued(); })};

    constexpr int kClients = 4, kRequests = 8, kGone = 4;
    std::atomic<int> answered{0}, hung{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c)
        clients.emplace_back([&, c] {
            const std::string name = std::to_string(c);
            // One connection kept for several requests, the last closing it.
            const int fd = dial(port);
            for (int r = 0; r < kRequests; ++r) {
                const std::string path = (r % 2 ? "/later/" : "/now/") + name + "/" + std::to_string(r);
                request(fd, path, r == kRequests - 1);
                answered += answer(fd) == path;
            }
            ::close(fd);
            // Answered once the client has closed (or reset) its connection.
            for (int g = 0; g < kGone; ++g) {
                const int gone = dial(port, g % 2);
                const std::string path = "/gone/" + name + "/" + std::to_string(g);
                request(gone, path, g < 2);
                HttpResponder respond = answers.take(path);
                ::close(gone);
                if (respond)
                    respond({200, "text/plain", "late"});
            }
            // Answered while the server closes.
            const int last = dial(port);
            request(last, "/closing/" + name, false);
            hung += answer(last) == "hang";  // an answer or the end
            ::close(last);
        });

    std::vector<HttpResponder> closing;
    for (int c = 0; c < kClients; ++c)
        closing.push_back(answers.take("/closing/" + std::to_string(c)));
    std::atomic<bool> go{false};
    std::vector<std::thread> late;
    for (int c = 0; c + 1 < kClients; ++c)
        late.emplace_back([&go, respond = closing[c]] {
            while (!go) std::this_thread::yield();
            if (respond)
                respond({200, "text/plain", "/closing"});
        });
    go = true;
    server->close();
    for (auto* group : {&clients, &late})
        for (std::thread& t : *group) t.join();
    {
        const std::lock_guard lock(answers.mutex);
        answers.stop = true;
        answers.changed.notify_all();
    }
    for (std::thread& t : answering) t.join();

    EXPECT_EQ(answered, kClients * kRequests);
    EXPECT_EQ(hung, 0);
    EXPECT_EQ(answers.calls, kClients * (kRequests + kGone + 1));
    if (closing.back())
        closing.back()({200, {}, {}});  // to nobody
    EXPECT_EQ(dial(port), -1);
    EXPECT_EQ(server->port(), 0);
    for (int i = 0; i < 5000 && serverThreads() > 0; ++i)  // joined, but maybe still listed a moment
        std::this_thread::sleep_for(1ms);
    EXPECT_EQ(serverThreads(), 0);
    EXPECT_EQ(entries("/proc/self/fd"), filesBefore);
}
