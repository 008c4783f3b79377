#pragma once
// The Windows-1251 code page: its table, its case tables, and the "Текст"_cp
// literal that turns UTF-8 source text into cp1251 bytes while compiling (a
// character the code page does not have stops the build).

#include <cstddef>
#include <string>
#include <string_view>

using String = std::string;

namespace cp1251 {

// Unicode code points of the bytes 0x80..0xBF (0 = no character at that byte);
// 0xC0..0xFF are U+0410..U+044F in order.
inline constexpr char16_t kHighHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0000, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

// The cp1251 byte of a code point, or -1 when the code page has none.
constexpr int FromCodePoint(char32_t cp) {
    if (cp < 0x80)
        return static_cast<int>(cp);
    if (cp >= 0x0410 && cp <= 0x044F)
        return static_cast<int>(cp - 0x0410 + 0xC0);
    for (int i = 0; i < 64; ++i)
        if (kHighHalf[i] != 0 && kHighHalf[i] == cp)
            return 0x80 + i;
    return -1;
}

constexpr char32_t ToCodePoint(unsigned char b) {
    if (b < 0x80)
        return b;
    if (b >= 0xC0)
        return 0x0410 + (b - 0xC0);
    return kHighHalf[b - 0x80];
}

// Decodes one UTF-8 sequence at s[i]; advances i.  Returns 0xFFFFFFFF for a
// malformed sequence.
constexpr char32_t DecodeUtf8(const char* s, std::size_t n, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    int extra = 0;
    char32_t cp = 0;
    if (b0 < 0x80) {
        ++i;
        return b0;
    } else if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        ++i;
        return 0xFFFFFFFF;
    }
    if (i + extra >= n) {
        i = n;
        return 0xFFFFFFFF;
    }
    for (int k = 1; k <= extra; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            i += k;
            return 0xFFFFFFFF;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    i += extra + 1;
    // Overlong forms, surrogates and values past U+10FFFF are malformed.
    const char32_t least = extra == 1 ? 0x80 : (extra == 2 ? 0x800 : 0x10000);
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0xFFFFFFFF;
    return cp;
}

// Case tables of the code page (ASCII and Cyrillic, including Ё/ё and the
// Serbian, Macedonian, Ukrainian and Belarusian letters).
struct CaseTables {
    unsigned char upper[256]{};
    unsigned char lower[256]{};
};

constexpr CaseTables MakeCaseTables() {
    CaseTables t;
    for (int i = 0; i < 256; ++i)
        t.upper[i] = t.lower[i] = static_cast<unsigned char>(i);
    auto pair = [&t](int up, int low) {
        t.upper[low] = static_cast<unsigned char>(up);
        t.lower[up] = static_cast<unsigned char>(low);
    };
    for (int c = 'A'; c <= 'Z'; ++c)
        pair(c, c + 32);
    for (int c = 0xC0; c <= 0xDF; ++c)
        pair(c, c + 32);
    constexpr int pairs[][2] = {{0xA8, 0xB8}, {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A},
                                {0x8C, 0x9C}, {0x8D, 0x9D}, {0x8E, 0x9E}, {0x8F, 0x9F},
                                {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4}, {0xAA, 0xBA},
                                {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE}};
    for (const auto& p : pairs)
        pair(p[0], p[1]);
    return t;
}

inline constexpr CaseTables kCase = MakeCaseTables();

constexpr char ToUpper(char c) {
    return static_cast<char>(kCase.upper[static_cast<unsigned char>(c)]);
}
constexpr char ToLower(char c) {
    return static_cast<char>(kCase.lower[static_cast<unsigned char>(c)]);
}

}  // namespace cp1251

namespace runtime_detail {

// A string literal as a template argument: the UTF-8 bytes of the source.
template <std::size_t N>
struct Utf8Source {
    char bytes[N]{};
    consteval Utf8Source(const char (&s)[N]) {
        for (std::size_t i = 0; i < N; ++i)
            bytes[i] = s[i];
    }
};

// Not constexpr on purpose: reaching it while compiling a _cp literal stops
// the build with this function's name in the message.
inline void character_has_no_cp1251_byte_or_is_not_utf8() {}

template <std::size_t N>
consteval std::size_t Cp1251Length(const Utf8Source<N>& src) {
    std::size_t n = N - 1;  // without the terminating NUL
    std::size_t i = 0, out = 0;
    while (i < n) {
        const char32_t cp = cp1251::DecodeUtf8(src.bytes, n, i);
        if (cp == 0xFFFFFFFF || cp1251::FromCodePoint(cp) < 0)
            character_has_no_cp1251_byte_or_is_not_utf8();
        ++out;
    }
    return out;
}

}  // namespace runtime_detail

// The value of a _cp literal: cp1251 bytes in static storage.  It converts to
// String and std::string_view, compares with text and concatenates with '+'.
template <std::size_t M>
struct CpLiteral {
    char bytes[M + 1]{};

    constexpr std::string_view view() const { return std::string_view(bytes, M); }
    constexpr const char* c_str() const { return bytes; }
    constexpr const char* data() const { return bytes; }
    constexpr std::size_t size() const { return M; }
    constexpr std::size_t length() const { return M; }
    constexpr bool empty() const { return M == 0; }
    constexpr operator std::string_view() const { return view(); }
    operator String() const { return String(bytes, M); }
    String str() const { return String(bytes, M); }

    friend constexpr bool operator==(const CpLiteral& a, std::string_view b) {
        return a.view() == b;
    }
    template <std::size_t K>
    friend constexpr bool operator==(const CpLiteral& a, const CpLiteral<K>& b) {
        return a.view() == b.view();
    }
    friend String operator+(const CpLiteral& a, std::string_view b) {
        String r(a.view());
        r.append(b);
        return r;
    }
    friend String operator+(std::string_view a, const CpLiteral& b) {
        String r(a);
        r.append(b.view());
        return r;
    }
    friend String operator+(const CpLiteral& a, char b) {
        String r(a.view());
        r.push_back(b);
        return r;
    }
    friend String operator+(char a, const CpLiteral& b) {
        String r(1, a);
        r.append(b.view());
        return r;
    }
    template <std::size_t K>
    friend String operator+(const CpLiteral& a, const CpLiteral<K>& b) {
        String r(a.view());
        r.append(b.view());
        return r;
    }
};

namespace runtime_detail {

template <Utf8Source S>
consteval auto ConvertLiteral() {
    constexpr std::size_t M = Cp1251Length(S);
    CpLiteral<M> out{};
    std::size_t n = sizeof(S.bytes) - 1;
    std::size_t i = 0, o = 0;
    while (i < n) {
        const char32_t cp = cp1251::DecodeUtf8(S.bytes, n, i);
        out.bytes[o++] = static_cast<char>(static_cast<unsigned char>(cp1251::FromCodePoint(cp)));
    }
    out.bytes[M] = '\0';
    return out;
}

template <Utf8Source S>
struct LiteralStorage {
    static constexpr auto value = ConvertLiteral<S>();
};

}  // namespace runtime_detail

template <runtime_detail::Utf8Source S>
constexpr const auto& operator""_cp() {
    return runtime_detail::LiteralStorage<S>::value;
}
