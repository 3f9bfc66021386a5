#pragma once

// Writes one command of the phone's wire form from fuzz bytes: every case,
// with the numbers, strings and types a hostile or broken phone could send.
// Mostly well formed, so that the input gets past the decoder to the
// families; sometimes not, so that the decoder's refusals are covered too.
#include <fuzzer/FuzzedDataProvider.h>

#include <initializer_list>
#include <span>
#include <string>

namespace orvane::fuzz {

class CommandJson {
public:
    explicit CommandJson(FuzzedDataProvider& input) : m_in(input) {}

    // {"<case>":{...}}
    std::string command();

private:
    // `"key":value`, now and then left out or of another type.
    std::string member(const char* key, const std::string& value);
    std::string object(const std::string& caseName, std::initializer_list<std::string> members);
    std::string anyValue(int depth);
    std::string number();
    std::string flag();
    std::string text();
    std::string choice(std::span<const char* const> texts);
    std::string shortcut();
    std::string mediaAction();
    std::string systemAction();

    FuzzedDataProvider& m_in;
};

} // namespace orvane::fuzz
