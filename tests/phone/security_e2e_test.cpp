// Attacks on the real server binary over loopback.
#include "e2e_fixture.h"

namespace orvane::phone {
namespace {

TEST_F(EndToEnd, ALargeFileArrivesWhole)
{
    auto phone = pairedPhone(makeUuid(systemRandom()));
    const fs::path source = m_home / "large.bin";
    {
        std::ofstream out(source, std::ios::binary);
        std::string block(1 << 20, '\0');
        for (int mb = 0; mb < 60; ++mb) {
            for (std::size_t i = 0; i < block.size(); i += 4096)
                block[i] = static_cast<char>(mb + i / 4096);
            out.write(block.data(), static_cast<std::streamsize>(block.size()));
        }
    }
    auto id = phone->sendFile(source.string());
    ASSERT_TRUE(id.ok()) << id.error().message;
    auto result = phone->waitForResult(*id, 60'000);
    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_TRUE(result->success) << result->message;
    EXPECT_EQ(readFile(m_home / "Downloads/Orvane/large.bin"), readFile(source));
}

TEST_F(EndToEnd, ASecondPhoneIsAnsweredWhileTheFirstSendsTheWorstNames)
{
    // U+FDFA decomposes into 18 characters: matching a name of 262,144 of
    // them once held the server for half a minute, every phone waiting.
    std::string worst, cut;
    for (int i = 0; i < 262'144; ++i)
        worst += "\uFDFA";
    for (int i = 0; i < 256; ++i)
        cut += "\uFDFA";
    auto first = pairedPhone(makeUuid(systemRandom()));
    auto second = pairedPhone(makeUuid(systemRandom()));
    auto open = first->run(command::OpenApp{{worst}});
    auto quit = first->run(command::QuitAppNamed{{worst}});
    ASSERT_TRUE(open.ok() && quit.ok());

    auto asked = second->run(command::QuitAppNamed{{"Nothing Here"}});
    ASSERT_TRUE(asked.ok()) << asked.error().message;
    auto answer = second->waitForResult(*asked, timeoutMs);
    ASSERT_TRUE(answer.ok()) << answer.error().message;
    EXPECT_EQ(answer->message, "Nothing Here isn't open");

    // The answers echo the name as the server cut it.
    auto opened = first->waitForResult(*open, timeoutMs);
    auto quitted = first->waitForResult(*quit, timeoutMs);
    ASSERT_TRUE(opened.ok() && quitted.ok());
    EXPECT_EQ(opened->message, "Couldn't find \"" + cut + "\"");
    EXPECT_EQ(quitted->message, cut + " isn't open");
}

} // namespace
} // namespace orvane::phone
