#pragma once
// Seekable byte streams: memory, file and string streams.

#include <cstdint>
#include <vector>

#include "runtime/Classes.h"
#include "runtime/String.h"

enum TSeekOrigin { soBeginning, soCurrent, soEnd };
// The classic origin numbers.
inline constexpr int soFromBeginning = 0;
inline constexpr int soFromCurrent = 1;
inline constexpr int soFromEnd = 2;

class TStream : public TObject {
  public:
    String ClassName() const override { return "TStream"; }

    // Reads up to count bytes; returns how many were read (0 at the end).
    virtual long long Read(void* buffer, long long count) = 0;
    // Writes up to count bytes; returns how many were written.
    virtual long long Write(const void* buffer, long long count) = 0;
    // Moves the position; returns the new one.  A position before 0 is an
    // error (EStreamError "Invalid stream position"); past the end is allowed.
    virtual long long Seek(long long offset, TSeekOrigin origin) = 0;

    long long Position() { return Seek(0, soCurrent); }
    void SetPosition(long long pos) { Seek(pos, soBeginning); }
    virtual long long Size();
    virtual void SetSize(long long newSize);

    // Exactly count bytes or EReadError "Stream read error" /
    // EWriteError "Stream write error".
    void ReadBuffer(void* buffer, long long count);
    void WriteBuffer(const void* buffer, long long count);
    void WriteString(std::string_view s) {
        WriteBuffer(s.data(), static_cast<long long>(s.size()));
    }
    // Copies count bytes from source at its position (count 0: all of source
    // from its start); returns the number copied.
    long long CopyFrom(TStream& source, long long count);
};

class TCustomMemoryStream : public TStream {
  public:
    String ClassName() const override { return "TCustomMemoryStream"; }
    long long Read(void* buffer, long long count) override;
    long long Seek(long long offset, TSeekOrigin origin) override;
    long long Size() override { return static_cast<long long>(FData.size()); }

    const char* Memory() const { return FData.data(); }
    char* Memory() { return FData.data(); }
    void SaveToStream(TStream& stream);
    void SaveToFile(const String& fileName);

  protected:
    std::vector<char> FData;
    long long FPosition = 0;
};

class TMemoryStream : public TCustomMemoryStream {
  public:
    String ClassName() const override { return "TMemoryStream"; }
    long long Write(const void* buffer, long long count) override;
    void SetSize(long long newSize) override;
    void Clear();
    void LoadFromStream(TStream& stream);
    void LoadFromFile(const String& fileName);
};

// A memory stream over a String.
class TStringStream : public TStream {
  public:
    explicit TStringStream(String data = String()) : FData(std::move(data)) {}
    String ClassName() const override { return "TStringStream"; }
    long long Read(void* buffer, long long count) override;
    long long Write(const void* buffer, long long count) override;
    long long Seek(long long offset, TSeekOrigin origin) override;
    void SetSize(long long newSize) override;
    const String& DataString() const { return FData; }
    // Reads up to count bytes as text.
    String ReadString(long long count);

  private:
    String FData;
    long long FPosition = 0;
};

// File modes: an open mode or fmCreate, or-ed with a share mode (share
// modes are accepted and not enforced).
inline constexpr unsigned fmCreate = 0xFFFF;
inline constexpr unsigned fmOpenRead = 0x0000;
inline constexpr unsigned fmOpenWrite = 0x0001;
inline constexpr unsigned fmOpenReadWrite = 0x0002;
inline constexpr unsigned fmShareCompat = 0x0000;
inline constexpr unsigned fmShareExclusive = 0x0010;
inline constexpr unsigned fmShareDenyWrite = 0x0020;
inline constexpr unsigned fmShareDenyRead = 0x0030;
inline constexpr unsigned fmShareDenyNone = 0x0040;

// A stream over a file descriptor, which it does not close.
class THandleStream : public TStream {
  public:
    explicit THandleStream(int handle) : FHandle(handle) {}
    String ClassName() const override { return "THandleStream"; }
    long long Read(void* buffer, long long count) override;
    long long Write(const void* buffer, long long count) override;
    long long Seek(long long offset, TSeekOrigin origin) override;
    void SetSize(long long newSize) override;
    int Handle() const { return FHandle; }

  protected:
    int FHandle;
};

// A file.  fmCreate creates or truncates it: failure raises EFCreateError
// "Cannot create file \"%s\". %s"; the open modes open an existing file:
// failure raises EFOpenError "Cannot open file \"%s\". %s" (the second %s is
// the system's reason).
class TFileStream : public THandleStream {
  public:
    TFileStream(const String& fileName, unsigned mode);
    ~TFileStream() override;
    String ClassName() const override { return "TFileStream"; }
    const String& FileName() const { return FFileName; }

  private:
    String FFileName;
};
