#include "runtime/Streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "runtime/Exceptions.h"

// --- TStream ---------------------------------------------------------------------

long long TStream::Size() {
    const long long pos = Seek(0, soCurrent);
    const long long end = Seek(0, soEnd);
    Seek(pos, soBeginning);
    return end;
}

void TStream::SetSize(long long) {}

void TStream::ReadBuffer(void* buffer, long long count) {
    if (count < 0)
        throw EReadError("Stream read error");
    auto* p = static_cast<char*>(buffer);
    while (count > 0) {
        const long long n = Read(p, count);
        if (n <= 0)
            throw EReadError("Stream read error");
        p += n;
        count -= n;
    }
}

void TStream::WriteBuffer(const void* buffer, long long count) {
    if (count < 0)
        throw EWriteError("Stream write error");
    const auto* p = static_cast<const char*>(buffer);
    while (count > 0) {
        const long long n = Write(p, count);
        if (n <= 0)
            throw EWriteError("Stream write error");
        p += n;
        count -= n;
    }
}

long long TStream::CopyFrom(TStream& source, long long count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const long long total = count;
    char buf[64 * 1024];
    while (count > 0) {
        const long long n = count < static_cast<long long>(sizeof buf) ? count : sizeof buf;
        source.ReadBuffer(buf, n);
        WriteBuffer(buf, n);
        count -= n;
    }
    return total;
}

namespace {

long long NewPosition(long long current, long long size, long long offset, TSeekOrigin origin) {
    long long base = origin == soBeginning ? 0 : (origin == soCurrent ? current : size);
    const long long pos = base + offset;
    if (pos < 0)
        throw EStreamError("Invalid stream position");
    return pos;
}

}  // namespace

// --- memory streams --------------------------------------------------------------------

long long TCustomMemoryStream::Read(void* buffer, long long count) {
    const long long size = Size();
    if (count <= 0 || FPosition >= size)
        return 0;
    const long long n = count < size - FPosition ? count : size - FPosition;
    std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

long long TCustomMemoryStream::Seek(long long offset, TSeekOrigin origin) {
    FPosition = NewPosition(FPosition, Size(), offset, origin);
    return FPosition;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
    if (!FData.empty())
        stream.WriteBuffer(FData.data(), static_cast<long long>(FData.size()));
}

void TCustomMemoryStream::SaveToFile(const String& fileName) {
    TFileStream f(fileName, fmCreate);
    SaveToStream(f);
}

long long TMemoryStream::Write(const void* buffer, long long count) {
    if (count <= 0)
        return 0;
    const long long end = FPosition + count;
    if (end > Size())
        FData.resize(static_cast<std::size_t>(end));
    std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

void TMemoryStream::SetSize(long long newSize) {
    if (newSize < 0)
        newSize = 0;
    FData.resize(static_cast<std::size_t>(newSize));
    if (FPosition > newSize)
        FPosition = newSize;
}

void TMemoryStream::Clear() {
    FData.clear();
    FData.shrink_to_fit();
    FPosition = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
    stream.SetPosition(0);
    const long long size = stream.Size();
    SetSize(size);
    if (size > 0)
        stream.ReadBuffer(FData.data(), size);
    FPosition = 0;
}

void TMemoryStream::LoadFromFile(const String& fileName) {
    TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(f);
}

// --- string stream ---------------------------------------------------------------------------

long long TStringStream::Read(void* buffer, long long count) {
    const long long size = static_cast<long long>(FData.size());
    if (count <= 0 || FPosition >= size)
        return 0;
    const long long n = count < size - FPosition ? count : size - FPosition;
    std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
}

long long TStringStream::Write(const void* buffer, long long count) {
    if (count <= 0)
        return 0;
    const long long end = FPosition + count;
    if (end > static_cast<long long>(FData.size()))
        FData.resize(static_cast<std::size_t>(end));
    std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
    FPosition = end;
    return count;
}

long long TStringStream::Seek(long long offset, TSeekOrigin origin) {
    FPosition = NewPosition(FPosition, static_cast<long long>(FData.size()), offset, origin);
    return FPosition;
}

void TStringStream::SetSize(long long newSize) {
    FData.resize(static_cast<std::size_t>(newSize < 0 ? 0 : newSize));
    if (FPosition > static_cast<long long>(FData.size()))
        FPosition = static_cast<long long>(FData.size());
}

String TStringStream::ReadString(long long count) {
    const long long size = static_cast<long long>(FData.size());
    if (count <= 0 || FPosition >= size)
        return String();
    const long long n = count < size - FPosition ? count : size - FPosition;
    String r = FData.substr(static_cast<std::size_t>(FPosition), static_cast<std::size_t>(n));
    FPosition += n;
    return r;
}

// --- file streams ------------------------------------------------------------------------------

namespace {

// Repeats a read or write the system interrupted; a failure counts as 0 bytes.
template <typename Transfer>
long long Retrying(long long count, Transfer transfer) {
    if (count <= 0)
        return 0;
    while (true) {
        const ssize_t n = transfer(static_cast<std::size_t>(count));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return 0;
    }
}

}  // namespace

long long THandleStream::Read(void* buffer, long long count) {
    return Retrying(count, [&](std::size_t n) { return ::read(FHandle, buffer, n); });
}

long long THandleStream::Write(const void* buffer, long long count) {
    return Retrying(count, [&](std::size_t n) { return ::write(FHandle, buffer, n); });
}

long long THandleStream::Seek(long long offset, TSeekOrigin origin) {
    const int whence =
        origin == soBeginning ? SEEK_SET : (origin == soCurrent ? SEEK_CUR : SEEK_END);
    const off_t pos = ::lseek(FHandle, static_cast<off_t>(offset), whence);
    if (pos < 0)
        throw EStreamError("Invalid stream position");
    return pos;
}

void THandleStream::SetSize(long long newSize) {
    if (::ftruncate(FHandle, static_cast<off_t>(newSize < 0 ? 0 : newSize)) != 0) {
        const int err = errno;
        throw EStreamError(Format("Stream size error. %s", std::strerror(err)));
    }
    if (Position() > newSize)
        SetPosition(newSize);
}

TFileStream::TFileStream(const String& fileName, unsigned mode)
    : THandleStream(-1), FFileName(fileName) {
    if (mode == fmCreate) {
        FHandle = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (FHandle < 0) {
            const int err = errno;
            throw EFCreateError(
                Format("Cannot create file \"%s\". %s", fileName, std::strerror(err)));
        }
    } else {
        int flags = O_RDONLY;
        if ((mode & 3) == fmOpenWrite)
            flags = O_WRONLY;
        else if ((mode & 3) == fmOpenReadWrite)
            flags = O_RDWR;
        FHandle = ::open(fileName.c_str(), flags | O_CLOEXEC);
        if (FHandle >= 0) {
            struct stat st {};
            if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
                ::close(FHandle);
                FHandle = -1;
                errno = EISDIR;
            }
        }
        if (FHandle < 0) {
            const int err = errno;
            throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName, std::strerror(err)));
        }
    }
}

TFileStream::~TFileStream() {
    if (FHandle >= 0)
        ::close(FHandle);
}
