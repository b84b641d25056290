#pragma once

#include <QByteArray>

#include <cstddef>
#include <memory>

namespace shared {

// The one SHA-256 of the program: files, chunks and downloads are all identified by it, so the
// implementation behind it can be swapped in one place. Digests are 32 raw bytes.
class TSha256
{
public:
    static constexpr int DigestLength = 32;

    TSha256();
    ~TSha256();
    TSha256(TSha256&&) noexcept;
    TSha256& operator=(TSha256&&) noexcept;
    TSha256(const TSha256&) = delete;
    TSha256& operator=(const TSha256&) = delete;

    void addData(const char* data, std::size_t length);
    void addData(const QByteArray& data) { addData(data.constData(), std::size_t(data.size())); }
    // The digest of everything added since construction or the last result; starts anew.
    QByteArray result();

private:
    struct TState;
    std::unique_ptr<TState> m_pState;
};

QByteArray sha256(const char* data, std::size_t length);
inline QByteArray sha256(const QByteArray& data)
{
    return sha256(data.constData(), std::size_t(data.size()));
}

} // namespace shared
