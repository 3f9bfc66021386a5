// orvane-phone runs one command of each family against the real server on
// the test display: keys and typing, applications from a desktop entry, the
// clipboard, links, folders, the user's shortcuts, and the families that
// answer without a backend; and the same server without sound or display.
#include "command_line_fixture.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

namespace orvane::phone {
namespace {

// Programs started detached write their record a moment after the answer.
bool waitForLines(const fs::path& path, long lines = 1)
{
    for (int i = 0; i < 100; ++i) {
        std::string text = readFile(path);
        if (std::count(text.begin(), text.end(), '\n') >= lines)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class Commands : public CommandLine {
protected:
    void prepareHome() override
    {
        const fs::path bin = m_home / "bin";
        // Stand-ins for the desktop's opener and for programs: each records
        // its arguments, one per line, so the test sees exactly what arrived.
        // The opener refuses what names "fail", as xdg-open does what it has
        // no handler for.
        writeFile(bin / "xdg-open",
                  "#!/bin/sh\ncase $1 in *fail*) echo \"no method for $1\" >&2; exit 3;; esac\n"
                  "printf '%s\\n' \"$@\" >> \"$HOME/opened\"\n",
                  true);
        writeFile(bin / "probe-app", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$HOME/launched\"\n",
                  true);
        writeFile(bin / "probe-shortcut", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$HOME/shortcut\"\n",
                  true);
        writeFile(
            m_home / ".local/share/applications/org.orvane.Probe.desktop",
            "[Desktop Entry]\nType=Application\nName=Probe\nExec=probe-app --from-entry %U\n");
        writeFile(m_home / ".config/Orvane/shortcuts.ini",
                  "Say hello = probe-shortcut \"two words\" ;echo\n");
        const char* path = std::getenv("PATH");
        m_extraEnv["PATH"] = bin.string() + ":" + (path ? path : "/usr/bin:/bin");
    }
};

TEST_F(Commands, EachFamilyAnswersWithItsSentenceAndActs)
{
    ASSERT_TRUE(displayProvided());
    pairThePhone();

    EXPECT_EQ(phone({"key", "cmd+shift+t"}).output, "⇧⌘T\n");
    EXPECT_EQ(phone({"key", "down", "3"}).output, "↓\n");
    EXPECT_EQ(phone({"type", "hello world"}).output, "Typed\n");

    EXPECT_EQ(phone({"launch", "org.orvane.Probe"}).output, "Opening Probe\n");
    ASSERT_TRUE(waitForLines(m_home / "launched"));
    EXPECT_EQ(readFile(m_home / "launched"), "--from-entry\n");
    EXPECT_EQ(phone({"open-app", "probe"}).output, "Opening Probe\n");
    auto quit = phone({"quit", "org.orvane.Probe"});
    EXPECT_EQ(quit.status, 1);
    EXPECT_NE(quit.errors.find("App isn't running"), std::string::npos) << quit.errors;

    EXPECT_EQ(phone({"set-clipboard", "from", "the", "phone"}).output,
              "Copied to the Mac's clipboard\n");
    EXPECT_NE(phone({"clipboard"}).output.find("from the phone"), std::string::npos);

    EXPECT_EQ(phone({"open-url", "https://example.com/a?b=c;d"}).output,
              "Opening example.com on the Mac\n");
    auto refused = phone({"open-url", "file:///etc/passwd"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.errors.find("Not a valid link"), std::string::npos);
    EXPECT_EQ(phone({"folder", "orvane"}).output, "Opening Orvane downloads\n");
    EXPECT_TRUE(fs::is_directory(m_home / "Downloads" / "Orvane"));
    ASSERT_TRUE(waitForLines(m_home / "opened", 2));
    EXPECT_EQ(readFile(m_home / "opened"),
              "https://example.com/a?b=c;d\n" + (m_home / "Downloads" / "Orvane").string() + "\n");
    auto notOpened = phone({"open-url", "https://fail.example.org/"});
    EXPECT_EQ(notOpened.status, 1);
    EXPECT_NE(notOpened.errors.find("Couldn't open fail.example.org"), std::string::npos);
    EXPECT_EQ(m_server->errors().find("no method"), std::string::npos)
        << "the opener's errors reach the terminal";

    EXPECT_EQ(phone({"shortcut", "Say hello"}).output, "Running Say hello\n");
    ASSERT_TRUE(waitForLines(m_home / "shortcut", 2));
    EXPECT_EQ(readFile(m_home / "shortcut"), "two words\n;echo\n") << "no shell ran it";
    EXPECT_EQ(phone({"shortcut", "Unknown"}).status, 1);

    auto media = phone({"media", "play"});
    EXPECT_EQ(media.status, 1);
    EXPECT_NE(media.errors.find("Neither Spotify nor Music is open"), std::string::npos);
    auto window = phone({"window", "left-half"});
    EXPECT_EQ(window.status, 1);
    EXPECT_NE(window.errors.find("No window to move"), std::string::npos);
}

// No sound server and no display: the volume and the clipboard say they
// could not be changed, and no clipboard is read back from memory.
class NoSoundNoDisplay : public CommandLine {
protected:
    void prepareHome() override
    {
        m_extraEnv["PULSE_SERVER"] = "unix:" + (m_home / "no-sound-server").string();
        m_extraEnv["DISPLAY"] = "";
    }
};

TEST_F(NoSoundNoDisplay, VolumeAndClipboardSayTheyFailed)
{
    pairThePhone();
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"run", R"({"system":{"_0":{"setVolume":{"_0":40}}}})"}, "Couldn't change the volume"},
        {{"volume", "up"}, "Couldn't change the volume"},
        {{"set-clipboard", "from", "the", "phone"}, "Couldn't copy to the Mac's clipboard"}};
    for (const auto& [command, said] : refused) {
        const Run run = phone(command);
        EXPECT_EQ(run.status, 1) << said;
        EXPECT_NE(run.errors.find(said), std::string::npos) << run.errors;
    }
    EXPECT_EQ(phone({"clipboard"}).output, "null\n");
}

// xdg-user-dirs writes a Downloads folder the user turned off as $HOME
// itself; files and the folder the phone opens must still agree.
class DownloadsAtHome : public Commands {
protected:
    void prepareHome() override
    {
        Commands::prepareHome();
        writeFile(m_home / ".config/user-dirs.dirs", "XDG_DOWNLOAD_DIR=\"$HOME/\"\n");
    }
};

TEST_F(DownloadsAtHome, ReceivedFilesLandInTheFolderThePhoneOpens)
{
    pairThePhone();
    writeFile(m_home / "note.txt", "hello");
    EXPECT_EQ(phone({"send", (m_home / "note.txt").string()}).status, 0);
    EXPECT_EQ(phone({"folder", "orvane"}).output, "Opening Orvane downloads\n");
    ASSERT_TRUE(waitForLines(m_home / "opened"));
    const fs::path opened =
        readFile(m_home / "opened").substr(0, readFile(m_home / "opened").size() - 1);
    EXPECT_EQ(opened, m_home / "Downloads" / "Orvane");
    EXPECT_EQ(readFile(opened / "note.txt"), "hello");
}

} // namespace
} // namespace orvane::phone
