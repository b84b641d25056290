#include "blobhttpserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

TBlobHttpServer::TBlobHttpServer(std::size_t bodySize) : m_Body(bodySize, '\0')
{
    // Not all zeros, so nothing along the way can take a shortcut over the content.
    for (std::size_t i = 0; i < m_Body.size(); ++i)
        m_Body[i] = static_cast<char>((i * 2654435761u) >> 24);
}

TBlobHttpServer::~TBlobHttpServer()
{
    stop();
}

std::uint16_t TBlobHttpServer::start()
{
    m_ListenSocket = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_ListenSocket < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (::bind(m_ListenSocket, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(m_ListenSocket, 64) != 0 ||
        ::getsockname(m_ListenSocket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    m_AcceptThread = std::thread([this] { acceptLoop(); });
    return ntohs(address.sin_port);
}

void TBlobHttpServer::stop()
{
    if (m_bStopping.exchange(true))
        return;
    if (m_ListenSocket >= 0)
        ::shutdown(m_ListenSocket, SHUT_RDWR);
    if (m_AcceptThread.joinable())
        m_AcceptThread.join();
    if (m_ListenSocket >= 0)
        ::close(m_ListenSocket);
    // The accept thread has ended, so nothing adds connections any more.
    for (int socket : m_ConnectionSockets)
        ::shutdown(socket, SHUT_RDWR);
    for (auto& thread : m_ConnectionThreads)
        thread.join();
    for (int socket : m_ConnectionSockets)
        ::close(socket);
}

void TBlobHttpServer::acceptLoop()
{
    while (!m_bStopping) {
        const int socket = ::accept(m_ListenSocket, nullptr, nullptr);
        if (socket < 0)
            break;
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_ConnectionSockets.push_back(socket);
        m_ConnectionThreads.emplace_back([this, socket] { serveConnection(socket); });
    }
}

void TBlobHttpServer::serveConnection(int socket)
{
    const int one = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                             "Content-Length: " +
                             std::to_string(m_Body.size()) + "\r\n\r\n";
    std::string pending;
    char buffer[8192];
    while (true) {
        const std::size_t end = pending.find("\r\n\r\n");
        if (end == std::string::npos) {
            const ssize_t received = ::recv(socket, buffer, sizeof(buffer), 0);
            if (received <= 0)
                break;
            pending.append(buffer, static_cast<std::size_t>(received));
            continue;
        }
        pending.erase(0, end + 4);
        bool sent = ::send(socket, head.data(), head.size(), MSG_NOSIGNAL) ==
                    static_cast<ssize_t>(head.size());
        for (std::size_t offset = 0; sent && offset < m_Body.size();) {
            const ssize_t written =
                ::send(socket, m_Body.data() + offset, m_Body.size() - offset, MSG_NOSIGNAL);
            sent = written > 0;
            offset += sent ? static_cast<std::size_t>(written) : 0;
        }
        if (!sent)
            break;
    }
    // The socket stays in m_ConnectionSockets until stop(); closing it here could let stop()
    // shut down a reused descriptor.
    ::shutdown(socket, SHUT_RDWR);
}
