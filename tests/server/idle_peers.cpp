// idle_peers COUNT PORT: opens COUNT connections to 127.0.0.1:PORT that never
// send a byte, prints "connected N" once the connection attempts have
// settled (N of them connected), and holds them until its standard input
// closes. The listener's flood tests run it as a process of its own, so the
// descriptors of the idle connections are not the console's.
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: idle_peers COUNT PORT\n");
        return 2;
    }
    const int count = std::atoi(argv[1]);
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[2])));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<pollfd> peers;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            std::perror("socket");
            return 1;
        }
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
            errno != EINPROGRESS) {
            std::perror("connect");
            return 1;
        }
        peers.push_back({fd, POLLOUT, 0});
    }
    // Settled: every attempt connected or failed, or five seconds passed.
    int connected = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < until) {
        connected = 0;
        int pending = 0;
        for (pollfd& p : peers) {
            p.revents = 0;
            if (::poll(&p, 1, 0) != 1) {
                ++pending;
                continue;
            }
            int error = 0;
            socklen_t size = sizeof error;
            if (::getsockopt(p.fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0)
                ++connected;
        }
        if (pending == 0)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::printf("connected %d\n", connected);
    std::fflush(stdout);
    char byte;
    while (::read(0, &byte, 1) > 0) {
    }
    return 0;
}
