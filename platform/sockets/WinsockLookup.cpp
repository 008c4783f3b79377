// WSAAsyncGetHostByName: getaddrinfo runs on a worker thread of its own,
// which posts the finished task to the relay window; on the GUI thread the
// host entry is laid out in the caller's buffer and the caller's message sent.

#include "platform/sockets/WinsockPrivate.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace win {

namespace winsock_internal {

namespace {

struct LookupTask {
    HWND Window;
    UINT Message;
    char* Buffer;
    int BufferLength;
    std::string Name;
    // Filled by the worker before it posts; read on the GUI thread after.
    int Error = 0;
    std::string CanonicalName;
    std::vector<std::uint32_t> Addresses;  // network order
};
std::mutex gLookupMutex;
std::map<UINT_PTR, std::shared_ptr<LookupTask>> gLookups;  // guarded by gLookupMutex
std::atomic<UINT_PTR> gNextLookup{1};

std::size_t AlignUp(std::size_t v, std::size_t a) {
    return (v + a - 1) / a * a;
}

// The bytes the entry needs: the record, an empty alias list, the address
// list with its terminating null, the addresses, the name.
std::size_t HostEntrySize(const LookupTask& task) {
    std::size_t size = AlignUp(sizeof(HOSTENT), alignof(char*));
    size += sizeof(char*);                                // aliases: just the terminator
    size += (task.Addresses.size() + 1) * sizeof(char*);  // address list
    size += task.Addresses.size() * 4;
    size += task.CanonicalName.size() + 1;
    return size;
}

void LayOutHostEntry(const LookupTask& task, char* buffer) {
    char* p = buffer;
    auto* entry = reinterpret_cast<HOSTENT*>(p);
    p += AlignUp(sizeof(HOSTENT), alignof(char*));
    auto** aliases = reinterpret_cast<char**>(p);
    aliases[0] = nullptr;
    p += sizeof(char*);
    auto** list = reinterpret_cast<char**>(p);
    p += (task.Addresses.size() + 1) * sizeof(char*);
    for (std::size_t i = 0; i < task.Addresses.size(); ++i) {
        std::memcpy(p, &task.Addresses[i], 4);
        list[i] = p;
        p += 4;
    }
    list[task.Addresses.size()] = nullptr;
    std::memcpy(p, task.CanonicalName.c_str(), task.CanonicalName.size() + 1);
    entry->h_name = p;
    entry->h_aliases = aliases;
    entry->h_addrtype = AF_INET;
    entry->h_length = 4;
    entry->h_addr_list = list;
}

void RunLookup(std::shared_ptr<LookupTask> task, UINT_PTR id, HWND relay) {
    addrinfo hints{};
    hints.ai_family = posix::kAfInet;
    hints.ai_socktype = posix::kSockStream;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* result = nullptr;
    int rc = ::getaddrinfo(task->Name.c_str(), nullptr, &hints, &result);
    if (rc == 0) {
        for (addrinfo* ai = result; ai; ai = ai->ai_next) {
            if (ai->ai_family != posix::kAfInet || !ai->ai_addr)
                continue;
            auto* in = reinterpret_cast<posix::SockAddrIn*>(ai->ai_addr);
            std::uint32_t a = in->sin_addr.s_addr;
            bool seen = false;
            for (auto known : task->Addresses)
                seen = seen || known == a;
            if (!seen)
                task->Addresses.push_back(a);
        }
        task->CanonicalName = result && result->ai_canonname ? result->ai_canonname : task->Name;
        ::freeaddrinfo(result);
        task->Error = task->Addresses.empty() ? WSANO_DATA : 0;
    } else {
        task->Error = WSAErrorFromLookup(rc);
    }
    if (task->Error == 0)
        KURS_TRACE(Sockets, "lookup %llu done: %zu address%s", static_cast<unsigned long long>(id),
                   task->Addresses.size(), task->Addresses.size() == 1 ? "" : "es");
    else
        KURS_TRACE(Sockets, "lookup %llu failed: error %d %s", static_cast<unsigned long long>(id),
                   task->Error, ErrorName(task->Error));
    // The task stays alive through our shared reference; only the GUI thread
    // touches the caller's buffer, and only if the window still exists.
    PostMessage(relay, kRelayLookup, id, 0);
}

}  // namespace

void DeliverLookup(UINT_PTR id) {
    std::shared_ptr<LookupTask> task;
    {
        std::lock_guard<std::mutex> lock(gLookupMutex);
        auto it = gLookups.find(id);
        if (it == gLookups.end())
            return;  // cancelled
        task = it->second;
        gLookups.erase(it);
    }
    if (!IsWindow(task->Window)) {
        KURS_TRACE(Sockets, "lookup %llu dropped: its window is gone",
                   static_cast<unsigned long long>(id));
        return;  // its buffer may be gone with it
    }
    int error = task->Error;
    std::size_t length = 0;
    if (error == 0) {
        length = HostEntrySize(*task);
        if (task->BufferLength < 0 || length > static_cast<std::size_t>(task->BufferLength)) {
            error = WSAENOBUFS;
        } else {
            LayOutHostEntry(*task, task->Buffer);
        }
    }
    KURS_TRACE(Sockets, "lookup %llu reply: length %zu, error %d",
               static_cast<unsigned long long>(id), length, error);
    SendMessage(task->Window, task->Message, id,
                WSAMAKEASYNCREPLY(static_cast<WORD>(length > 0xFFFF ? 0xFFFF : length),
                                  static_cast<WORD>(error)));
}

}  // namespace winsock_internal

using namespace winsock_internal;

namespace {

HANDLE StartLookup(HWND window, UINT message, const char* name, char* buffer, int bufferLength) {
    if (gStartups == 0) {
        Fail(WSANOTINITIALISED);
        return nullptr;
    }
    if (!name || !buffer || bufferLength <= 0) {
        Fail(WSAEFAULT);
        return nullptr;
    }
    if (!IsWindow(window)) {
        Fail(WSAEINVAL);
        return nullptr;
    }
    if (!EnsureRelayWindow()) {
        Fail(WSAENOBUFS);
        return nullptr;
    }
    auto task = std::make_shared<LookupTask>();
    task->Window = window;
    task->Message = message;
    task->Buffer = buffer;
    task->BufferLength = bufferLength;
    task->Name = name;
    const UINT_PTR id = gNextLookup++;
    {
        std::lock_guard<std::mutex> lock(gLookupMutex);
        gLookups[id] = task;
    }
    try {
        std::thread(RunLookup, task, id, gRelayWindow).detach();
    } catch (const std::system_error&) {
        std::lock_guard<std::mutex> lock(gLookupMutex);
        gLookups.erase(id);
        Fail(WSAENOBUFS);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(id);
}

}  // namespace

HANDLE WSAAsyncGetHostByName(HWND window, UINT message, const char* name, char* buffer,
                             int bufferLength) {
    HANDLE task = StartLookup(window, message, name, buffer, bufferLength);
    if (task)
        KURS_TRACE(Sockets, "lookup %llu of \"%.200s\" started",
                   static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(task)), name);
    else
        KURS_TRACE(Sockets, "lookup of \"%.200s\" not started: %s", name ? name : "(null)",
                   Outcome(SOCKET_ERROR));
    return task;
}

int WSACancelAsyncRequest(HANDLE task) {
    int result = 0;
    {
        std::lock_guard<std::mutex> lock(gLookupMutex);
        if (gLookups.erase(reinterpret_cast<UINT_PTR>(task)) == 0)
            result = Fail(WSAEINVAL);
    }
    KURS_TRACE(Sockets, "lookup %llu cancelled: %s",
               static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(task)), Outcome(result));
    return result;
}

}  // namespace win
