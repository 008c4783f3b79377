#pragma once
// The answer of the response reader's fuzz target: a connect of this program
// to 127.0.0.1 at FuzzAnswerPort gets, already connected, a socket that reads
// the bytes given to BeginFuzzAnswer and then an orderly close.

#include <cstddef>
#include <cstdint>

constexpr std::uint16_t FuzzAnswerPort = 9;

// The next connect to the fuzz address answers data (kept by the caller
// until EndFuzzAnswer).
void BeginFuzzAnswer(const std::uint8_t* data, std::size_t size);
// Ends the answer: the client's descriptor is its own again, and the next
// connect to the fuzz address answers what BeginFuzzAnswer gives next.
void EndFuzzAnswer();
