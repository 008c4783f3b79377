#pragma once
// Traces that can be turned on by name, for seeing what the program does
// without a debugger.  KURS_TRACE=messages,sockets,http,registry,rates-server
// (or "all") in the environment switches the named channels on; each trace is
// one line on stderr, stamped with the milliseconds since the first trace:
//
//     [    12.345] sockets: connect socket 3 to 127.0.0.1:8080
//
// Off by default.  When a channel is off a trace costs one load and one
// branch: its arguments are not evaluated.

#include <cstdarg>

namespace trace {

enum class Channel : unsigned {
    Messages,
    Sockets,
    Http,
    Registry,
    RatesServer,
};

// The channel bits a KURS_TRACE value names.  Names are separated by commas
// (spaces around them are ignored); unknown names are left out.
unsigned ParseChannels(const char* value);

// The channel bits of this process, read from KURS_TRACE once.
unsigned EnabledChannels();

// Switches the channels for this process, for tests and for programs that
// take the switch from their command line.
void SetEnabledChannels(unsigned bits);

inline bool On(Channel channel) {
    return (EnabledChannels() >> static_cast<unsigned>(channel)) & 1u;
}

// Writes one trace line on the channel, whether or not it is on; use
// KURS_TRACE() so the line costs nothing when the channel is off.
void Write(Channel channel, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace trace

#define KURS_TRACE(channel, ...)                                    \
    do {                                                            \
        if (::trace::On(::trace::Channel::channel))                 \
            ::trace::Write(::trace::Channel::channel, __VA_ARGS__); \
    } while (0)
