// The floor for one mail check: greeting, USER, PASS, STAT over a plain
// blocking POSIX socket, the count read from the STAT reply, nothing else.
//
//   pop3-floor PORT USER PASSWORD RUNS
//
// Prints one line a run: microseconds from before the connect to the count,
// and the count. Exit status 1 on any failure.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Reads one reply line; the server sends nothing it was not asked for.
bool readLine(int fd, std::string& line)
{
    line.clear();
    char buffer[512];
    while (line.find('\n') == std::string::npos) {
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        line.append(buffer, size_t(got));
    }
    return true;
}

bool sendLine(int fd, const std::string& line)
{
    const std::string data = line + "\r\n";
    return send(fd, data.data(), data.size(), MSG_NOSIGNAL) == ssize_t(data.size());
}

int countOf(const std::string& reply)
{
    const size_t first = reply.find(' ');
    if (first == std::string::npos)
        return 0;
    const size_t second = reply.find(' ', first + 1);
    if (second == std::string::npos)
        return 0;
    return std::atoi(reply.substr(first + 1, second - first - 1).c_str());
}

// One check; -1 on failure.
int check(unsigned short port, const std::string& user, const std::string& password)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Small commands, one at a time: Qt sets no delay on its sockets either.
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int count = -1;
    std::string reply;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        readLine(fd, reply) && sendLine(fd, "USER " + user) && readLine(fd, reply) && reply[0] == '+' &&
        sendLine(fd, "PASS " + password) && readLine(fd, reply) && reply[0] == '+' && sendLine(fd, "STAT") &&
        readLine(fd, reply))
        count = countOf(reply);
    close(fd);
    return count;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: pop3-floor PORT USER PASSWORD RUNS\n");
        return 2;
    }
    const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
    const int runs = std::atoi(argv[4]);
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int count = check(port, argv[2], argv[3]);
        const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
                .count();
        if (count < 0) {
            std::fprintf(stderr, "pop3-floor: check failed\n");
            return 1;
        }
        std::printf("%lld %d\n", static_cast<long long>(micros), count);
    }
    return 0;
}
