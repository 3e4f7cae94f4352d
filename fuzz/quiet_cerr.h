#pragma once
// The readers report every broken file on std::cerr; at thousands of inputs a second that floods
// the fuzzer's log and costs time. Sanitizer and libFuzzer reports write to the file descriptor
// directly and still show.

#include <iostream>
#include <streambuf>

inline void quietStandardErrorStream() {
    struct Discard : std::streambuf {
        int overflow(int character) override { return traits_type::not_eof(character); }
    };
    static Discard discard;
    std::cerr.rdbuf(&discard);
}
