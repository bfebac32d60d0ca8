// The floor for one mail check over TLS from the first byte (POP3S): a
// blocking socket, OpenSSL's SSL_connect with the peer verified against a CA
// file and its name, then greeting, USER, PASS, STAT and the count of the
// STAT reply, nothing else.
//
//   pop3s-floor PORT USER PASSWORD RUNS CAFILE
//
// Prints one line a run: microseconds from before the connect to the count,
// and the count. Exit status 1 on any failure.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool readLine(SSL* ssl, std::string& line)
{
    line.clear();
    char buffer[512];
    while (line.find('\n') == std::string::npos) {
        const int got = SSL_read(ssl, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        line.append(buffer, size_t(got));
    }
    return true;
}

bool sendLine(SSL* ssl, const std::string& line)
{
    const std::string data = line + "\r\n";
    return SSL_write(ssl, data.data(), int(data.size())) == int(data.size());
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

// One check with a fresh connection and TLS session; -1 on failure.
int check(SSL_CTX* context, unsigned short port, const std::string& user, const std::string& password)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    int count = -1;
    SSL* ssl = SSL_new(context);
    // The certificate must name the address we asked for, as PostOwl checks it.
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), "127.0.0.1");
    SSL_set_fd(ssl, fd);
    std::string reply;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        SSL_connect(ssl) == 1 && SSL_get_verify_result(ssl) == X509_V_OK && readLine(ssl, reply) &&
        sendLine(ssl, "USER " + user) && readLine(ssl, reply) && reply[0] == '+' &&
        sendLine(ssl, "PASS " + password) && readLine(ssl, reply) && reply[0] == '+' &&
        sendLine(ssl, "STAT") && readLine(ssl, reply))
        count = countOf(reply);
    SSL_free(ssl);
    close(fd);
    return count;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: pop3s-floor PORT USER PASSWORD RUNS CAFILE\n");
        return 2;
    }
    const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
    const int runs = std::atoi(argv[4]);
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_load_verify_locations(context, argv[5], nullptr) != 1) {
        std::fprintf(stderr, "pop3s-floor: cannot load %s\n", argv[5]);
        return 1;
    }
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int count = check(context, port, argv[2], argv[3]);
        const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
                .count();
        if (count < 0) {
            ERR_print_errors_fp(stderr);
            std::fprintf(stderr, "pop3s-floor: check failed\n");
            return 1;
        }
        std::printf("%lld %d\n", static_cast<long long>(micros), count);
    }
    SSL_CTX_free(context);
    return 0;
}
