#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A deliberately plain HTTP/1.1 server for benchmarks: blocking sockets, one thread per
// connection, every GET answered with the same in-memory body. It must not be the bottleneck of
// what it measures, which rules out an event-loop server sharing the client's thread.
class TBlobHttpServer
{
public:
    explicit TBlobHttpServer(std::size_t bodySize);
    ~TBlobHttpServer();

    // Listens on 127.0.0.1 and an ephemeral port; returns the port, 0 on failure.
    std::uint16_t start();
    void stop();

private:
    void acceptLoop();
    void serveConnection(int socket);

    std::string m_Body;
    int m_ListenSocket = -1;
    std::atomic<bool> m_bStopping{false};
    std::thread m_AcceptThread;
    std::mutex m_Mutex;
    std::vector<std::thread> m_ConnectionThreads;
    std::vector<int> m_ConnectionSockets;
};
