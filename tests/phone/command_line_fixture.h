#pragma once

// The server driven through orvane-phone's command line, one run per command.
#include "e2e_fixture.h"

namespace orvane::phone {

inline void writeFile(const fs::path& path, const std::string& text, bool executable = false)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
    if (executable)
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add);
}

class CommandLine : public EndToEnd {
protected:
    struct Run {
        int status;
        std::string output;
        std::string errors;
    };

    Run phone(std::vector<std::string> args)
    {
        args.insert(args.begin(), {ORVANE_PHONE_PATH, "--port", std::to_string(m_port),
                                   "--state-dir", (m_home / "phone-state").string()});
        ChildProcess child(args, env());
        int status = child.wait(timeoutMs).value_or(-1);
        return {status, child.output(), child.errors()};
    }

    void pairThePhone()
    {
        ChildProcess pair({ORVANE_PHONE_PATH, "--port", std::to_string(m_port), "--state-dir",
                           (m_home / "phone-state").string(), "pair", "--name", "E2E phone"},
                          env());
        pair.writeInput(nextCode() + "\n");
        pair.closeInput();
        ASSERT_EQ(pair.wait(timeoutMs), 0) << pair.errors();
    }

    static ::testing::AssertionResult displayProvided()
    {
        if (std::getenv("ORVANE_TEST_DISPLAY_OK"))
            return ::testing::AssertionSuccess();
        const char* why = std::getenv("ORVANE_TEST_DISPLAY_ERROR");
        return ::testing::AssertionFailure()
               << "needs the test display: " << (why ? why : "not started");
    }
};

} // namespace orvane::phone
