// The server on the headless GNOME session (and for the windows, on a
// headless KWin and a headless sway), driven through orvane-phone:
// keys, typing of any text, the clipboard, the pointer while watching, and
// the screen's pictures. A GTK window of the test's own fills the monitor
// and reports, one JSON line at a time, what reached it.
#include "command_line_fixture.h"

#include <QImage>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <regex>
#include <thread>

namespace orvane::phone {
namespace {

using json = nlohmann::json;

class Gnome : public CommandLine {
protected:
    // The desktop, as scripts/services.sh names it in its variables.
    virtual std::string desktop() const { return "GNOME"; }
    const char* variable(const char* what) const
    {
        return std::getenv(("ORVANE_TEST_" + desktop() + "_" + what).c_str());
    }

    void prepareHome() override
    {
        const char* bus = variable("BUS");
        const char* runtime = variable("RUNTIME_DIR");
        const char* wayland = variable("WAYLAND_DISPLAY");
        if (!bus || !runtime || !wayland)
            return;
        writeApplications();
        // Nothing of the X display the other tests use may be in reach.
        m_extraEnv = {{"DISPLAY", ""},
                      {"XDG_SESSION_TYPE", "wayland"},
                      {"WAYLAND_DISPLAY", wayland},
                      {"XDG_RUNTIME_DIR", runtime},
                      {"DBUS_SESSION_BUS_ADDRESS", bus},
                      {"GDK_BACKEND", "wayland"}};
    }

    // The test windows' applications, so that their windows are listed.
    void writeApplications()
    {
        for (const char* name : {"Probe", "Stubborn"}) {
            fs::create_directories(m_home / ".local/share/applications");
            std::ofstream(m_home / ".local/share/applications" /
                          (std::string("org.orvane.") + name + ".desktop"))
                << "[Desktop Entry]\nType=Application\nName=Orvane " << name
                << "\nExec=/bin/true\n";
        }
    }

    ::testing::AssertionResult gnomeProvided() const
    {
        if (variable("OK"))
            return ::testing::AssertionSuccess();
        const char* why = variable("ERROR");
        return ::testing::AssertionFailure()
               << "needs the headless " << desktop() << " session: " << (why ? why : "not started");
    }

    // The test window, full screen in one colour, once it says it is shown.
    std::unique_ptr<ChildProcess> startWindow(const std::string& colour,
                                              const std::vector<std::string>& more = {})
    {
        std::vector<std::string> argv{"/usr/bin/python3", ORVANE_WAYLAND_PROBE, "--colour", colour};
        argv.insert(argv.end(), more.begin(), more.end());
        auto window = std::make_unique<ChildProcess>(argv, env());
        EXPECT_TRUE(window->waitForLine(std::regex("^\\{\"ready\": true"), 20'000))
            << "the test window did not show: " << window->errors();
        return window;
    }

    // A window whose program quits when asked, and one whose program refuses.
    struct TwoWindows {
        std::unique_ptr<ChildProcess> willing, stubborn;
    };
    TwoWindows startTwoWindows(const std::string& stubbornAppId)
    {
        return {
            startWindow("2040c0", {"--title", "Orvane willing", "--app-id", "org.orvane.Probe"}),
            startWindow("c04020", {"--title", "Orvane stubborn", "--refuse-close", "--app-id",
                                   stubbornAppId})};
    }

    // A polite quit of everything ends the willing program and leaves the
    // one that refuses, asked but never made to quit.
    void expectPoliteQuitAll(TwoWindows& windows)
    {
        EXPECT_EQ(phone({"quit-all"}).status, 0);
        EXPECT_TRUE(windows.willing->wait(10'000).has_value())
            << "the willing window's program quit";
        EXPECT_TRUE(windows.stubborn->waitForLine(std::regex("close_refused"), 10'000))
            << windows.stubborn->output();
        EXPECT_FALSE(windows.stubborn->wait(3'000).has_value()) << "asked, never made to quit";
    }

    // Whether `done` holds within five seconds; the desktop applies requests
    // on its own time.
    template <class Done> static bool until(Done done)
    {
        for (int i = 0; i < 50 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return done();
    }

    // Typed by the phone, the text reaches the window whole. Keys another
    // test's session still had on their way may come first.
    void expectTyped(ChildProcess& window, const std::string& text)
    {
        EXPECT_EQ(phone({"type", text}).output, "Typed\n");
        EXPECT_TRUE(heard(window, "text", [&](const json& t) {
            return t["text"].get<std::string>().ends_with(text);
        })) << window.output();
    }

    // What the phone copies, the window pastes.
    void expectPhoneCopyPasted(ChildProcess& window)
    {
        EXPECT_EQ(phone({"set-clipboard", "from the phone ✓"}).output,
                  "Copied to the Mac's clipboard\n");
        window.writeInput("clipboard\n");
        auto pasted = heard(window, "clipboard");
        ASSERT_TRUE(pasted);
        EXPECT_EQ((*pasted)["clipboard"], "from the phone ✓");
    }

    // The next report of the window with this first field, parsed; the
    // first one `accept` takes when given.
    static std::optional<json> heard(ChildProcess& window, const std::string& field,
                                     const std::function<bool(const json&)>& accept = {})
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const std::regex pattern("^\\{\"" + field + "\":.*");
        while (std::chrono::steady_clock::now() < end) {
            const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     end - std::chrono::steady_clock::now())
                                     .count());
            auto line = window.waitForLine(pattern, std::max(left, 1));
            if (!line)
                return std::nullopt;
            json report = json::parse((*line)[0], nullptr, false);
            if (!accept || accept(report))
                return report;
        }
        return std::nullopt;
    }
};

TEST_F(Gnome, KeysTextAndTheClipboardReachANativeWindow)
{
    ASSERT_TRUE(gnomeProvided());
    EXPECT_NE(m_server->output().find("orvane: input and screen: GNOME (Wayland)\n"),
              std::string::npos)
        << m_server->output();
    auto window = startWindow("3060c0");
    pairThePhone();
    // A click gives the window the keyboard, whatever had it before.
    ASSERT_EQ(phone({"pointer", "click", "0.5", "0.5"}).status, 0);
    ASSERT_TRUE(heard(*window, "release")) << window->output();

    EXPECT_EQ(phone({"key", "ctrl+shift+a"}).output, "⌃⇧A\n");
    auto key = heard(*window, "key", [](const json& k) { return k["key"] == "A"; });
    ASSERT_TRUE(key) << window->output();
    EXPECT_EQ((*key)["state"], json({"shift", "control"}));

    // Letters the keymap has go as keys, the rest through the clipboard.
    expectTyped(*window, "Hello, é € Ж 日本 😀\nnext line");
    expectPhoneCopyPasted(*window);

    window->writeInput("copy from the window\n");
    ASSERT_TRUE(heard(*window, "copied"));
    // The desktop tells of the window's copy on its own time.
    std::string read;
    for (int i = 0; i < 20 && read.find("from the window") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        read = phone({"clipboard"}).output;
    }
    EXPECT_NE(read.find("from the window"), std::string::npos) << read;
}

TEST_F(Gnome, ThePointerLandsWhereAskedAndThePicturesShowTheWindow)
{
    ASSERT_TRUE(gnomeProvided());
    auto window = startWindow("e02020");
    pairThePhone();

    // The first picture may still show the window of the test before.
    const fs::path frames = m_home / "frames";
    Run watched = phone({"watch", "--seconds", "3", "--save", frames.string()});
    ASSERT_EQ(watched.status, 0) << watched.errors;
    std::vector<fs::path> saved;
    for (const auto& entry : fs::directory_iterator(frames))
        saved.push_back(entry.path());
    ASSERT_FALSE(saved.empty());
    QImage picture(QString::fromStdString(std::max_element(saved.begin(), saved.end())->string()));
    ASSERT_EQ(picture.size(), QSize(1600, 1000));
    // Away from the middle, where the last test left the pointer.
    const QColor colour = picture.pixelColor(1300, 800);
    EXPECT_GT(colour.red(), 200);
    EXPECT_LT(colour.green(), 60);

    // The monitor is 1600 x 1000 logical pixels.
    // A right click would open the text field's menu, which takes the
    // pointer for itself.
    Run click = phone({"pointer", "click", "0.25", "0.5", "--count", "2"});
    ASSERT_EQ(click.status, 0) << click.errors;
    auto pressed = heard(*window, "button", [](const json& b) { return b["n"] == 2; });
    ASSERT_TRUE(pressed) << window->output();
    EXPECT_EQ((*pressed)["button"], 1);
    EXPECT_NEAR((*pressed)["x"].get<double>(), 400, 2);
    EXPECT_NEAR((*pressed)["y"].get<double>(), 500, 2);
    ASSERT_TRUE(heard(*window, "release")) << "the double click's own release";

    ASSERT_EQ(phone({"pointer", "drag", "0.1", "0.1", "0.3", "0.3"}).status, 0);
    auto released = heard(*window, "release", [](const json& r) { return r["release"] == 1; });
    ASSERT_TRUE(released) << window->output();
    EXPECT_NEAR((*released)["x"].get<double>(), 480, 2);
    EXPECT_NEAR((*released)["y"].get<double>(), 300, 2);

    ASSERT_EQ(phone({"pointer", "scroll", "0", "-45"}).status, 0);
    auto scrolled = heard(*window, "scroll");
    ASSERT_TRUE(scrolled) << window->output();
    EXPECT_GT((*scrolled)["scroll"][1].get<double>(), 0) << "a finger up scrolls the page down";
}

// What the shell extension says of the window with this title: its id, its
// frame ("x, y, width, height") and whether it has the focus.
struct ShellWindow {
    std::string id, frame;
    bool focused = false;
};

std::optional<ShellWindow> shellWindow(const std::string& title)
{
    const std::string command = std::string("gdbus call --address '") +
                                std::getenv("ORVANE_TEST_GNOME_BUS") +
                                "' --dest org.orvane.Shell --object-path /org/orvane/Shell/Windows "
                                "--method org.orvane.Shell.Windows.GetWindows 2>/dev/null";
    FILE* call = ::popen(command.c_str(), "r");
    if (!call)
        return std::nullopt;
    std::string listed;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, call)) > 0;)
        listed.append(chunk, n);
    ::pclose(call);
    const std::size_t at = listed.find("<'" + title + "'>");
    if (at == std::string::npos)
        return std::nullopt;
    const std::size_t begin = listed.rfind('{', at), end = listed.find('}', at);
    const std::string one = listed.substr(begin, end - begin);
    std::smatch id, frame, focused;
    std::regex_search(one, id, std::regex("'id': <uint64 ([0-9]+)>"));
    std::regex_search(one, frame, std::regex("'frame': <\\(([-0-9, ]+)\\)>"));
    std::regex_search(one, focused, std::regex("'focused': <(true|false)>"));
    return ShellWindow{id.str(1), frame.str(1), focused.str(1) == "true"};
}

// The window commands on GNOME go through the shell extension: the front
// window to the left half, another focused by its id, and a polite quit of
// everything that leaves the window whose program refuses to close.
TEST_F(Gnome, WindowsAreArrangedFocusedAndAskedToClose)
{
    ASSERT_TRUE(gnomeProvided());
    TwoWindows programs = startTwoWindows("org.orvane.Probe");
    pairThePhone();
    const Run listed = phone({"windows"});
    ASSERT_EQ(listed.status, 0) << listed.errors;
    EXPECT_NE(listed.output.find("\"Orvane stubborn\""), std::string::npos) << listed.output;
    EXPECT_NE(listed.output.find("\"Orvane willing\""), std::string::npos) << listed.output;
    // The phone's ids are the low half of the shell's.
    const auto phoneId = [](const char* title) {
        const std::optional<ShellWindow> w = shellWindow(title);
        return w ? std::to_string(std::stoull(w->id) & 0xffffffffu) : std::string("0");
    };
    const auto focused = [](const char* title) {
        const std::optional<ShellWindow> w = shellWindow(title);
        return w && w->focused;
    };
    EXPECT_EQ(phone({"focus-window", phoneId("Orvane stubborn")}).status, 0);
    ASSERT_TRUE(until([&] { return focused("Orvane stubborn"); }));
    const Run moved = phone({"window", "left-half"});
    EXPECT_EQ(moved.status, 0) << moved.errors;
    // The left half of the work area, below the shell's top bar.
    EXPECT_TRUE(until([] { return shellWindow("Orvane stubborn")->frame == "0, 32, 800, 968"; }))
        << shellWindow("Orvane stubborn")->frame;
    EXPECT_EQ(phone({"focus-window", phoneId("Orvane willing")}).status, 0);
    EXPECT_TRUE(until([&] { return focused("Orvane willing"); }));

    expectPoliteQuitAll(programs);
}

class KWin : public Gnome {
protected:
    std::string desktop() const override { return "KWIN"; }
    // KWin draws windows only for a program whose desktop entry runs its
    // executable, as the package's does for the installed program.
    void prepareHome() override
    {
        Gnome::prepareHome();
        const char* folder = variable("APPLICATIONS_DIR");
        if (!folder)
            return;
        // Written aside and renamed: KWin notices a folder that changed,
        // not a file rewritten in place.
        const fs::path entry = fs::path(folder) / "orvane-e2e.desktop";
        std::ofstream(entry.string() + ".new")
            << "[Desktop Entry]\nType=Application\nName=Orvane end to end\nExec="
            << ORVANE_SERVER_PATH
            << "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
        fs::rename(entry.string() + ".new", entry);
    }

    // The picture of the stubborn window, behind the willing one, shows it
    // alone. The first list asks for the pictures, a later one brings them.
    void expectCoveredWindowPictured(const json& listed)
    {
        std::string id;
        for (const json& window : listed)
            if (window.value("title", "") == "Orvane stubborn")
                id = std::to_string(window.value("id", 0u));
        const fs::path dir = m_home / "pictures";
        const fs::path picture = dir / ("window-" + id + ".jpg");
        EXPECT_TRUE(until([&] {
            phone({"windows", "--thumbnails", dir.string()});
            return fs::exists(picture);
        })) << "no picture of window "
            << id;
        const QImage image(QString::fromStdString(picture.string()));
        const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
        EXPECT_GT(centre.red(), 150) << centre.name().toStdString();
        EXPECT_LT(centre.blue(), 100) << centre.name().toStdString();
    }
};

// On KDE Plasma the windows go through a KWin script: the focused window
// is listed first, it can be placed, a covered one is pictured alone, and a
// polite quit of everything leaves the window whose program refuses to
// close.
TEST_F(KWin, WindowsAreListedFocusedAndAskedToClose)
{
    ASSERT_TRUE(gnomeProvided());
    EXPECT_NE(m_server->output().find("orvane: windows: KWin script\n"), std::string::npos)
        << m_server->output();
    TwoWindows programs = startTwoWindows("org.orvane.Probe");
    pairThePhone();
    const auto listed = [&] {
        const Run run = phone({"windows"});
        return json::parse(run.output, nullptr, false);
    };
    const auto front = [&] {
        const json windows = listed();
        return windows.is_array() && !windows.empty() ? windows[0].value("title", "") : "";
    };
    const json windows = listed();
    ASSERT_TRUE(windows.is_array() && windows.size() >= 2) << windows.dump();
    for (const json& window : windows) {
        if (window.value("title", "") != "Orvane willing" || front() == "Orvane willing")
            continue;
        EXPECT_EQ(phone({"focus-window", std::to_string(window["id"].get<std::uint32_t>())}).status,
                  0);
    }
    // KWin reports the new focus a moment later.
    for (int i = 0; i < 50 && front() != "Orvane willing"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(front(), "Orvane willing");
    const Run moved = phone({"window", "left-half"});
    EXPECT_EQ(moved.output, "Window to the left half\n") << moved.errors;
    expectCoveredWindowPictured(windows);

    expectPoliteQuitAll(programs);
}

class Sway : public Gnome {
protected:
    std::string desktop() const override { return "SWAY"; }
    void prepareHome() override
    {
        const char* runtime = variable("RUNTIME_DIR");
        const char* wayland = variable("WAYLAND_DISPLAY");
        const char* socket = std::getenv("ORVANE_TEST_SWAYSOCK");
        if (!runtime || !wayland || !socket)
            return;
        writeApplications();
        m_extraEnv = {{"DISPLAY", ""},
                      {"XDG_SESSION_TYPE", "wayland"},
                      {"WAYLAND_DISPLAY", wayland},
                      {"XDG_RUNTIME_DIR", runtime},
                      {"SWAYSOCK", socket},
                      {"GDK_BACKEND", "wayland"}};
    }

    // Sway's own view of the window with this title, from its tree.
    static json swayWindow(const std::string& title)
    {
        const std::string command = std::string("SWAYSOCK='") +
                                    std::getenv("ORVANE_TEST_SWAYSOCK") +
                                    "' swaymsg -r -t get_tree 2>/dev/null";
        FILE* call = ::popen(command.c_str(), "r");
        std::string tree;
        char chunk[4096];
        for (std::size_t n; call && (n = std::fread(chunk, 1, sizeof chunk, call)) > 0;)
            tree.append(chunk, n);
        if (call)
            ::pclose(call);
        std::function<json(const json&)> find = [&](const json& node) -> json {
            if (node.value("name", json()) == title)
                return node;
            for (const char* key : {"nodes", "floating_nodes"})
                for (const json& child : node.value(key, json::array()))
                    if (json found = find(child); !found.is_null())
                        return found;
            return json();
        };
        return find(json::parse(tree, nullptr, false));
    }

    // A phone paired first, to hear what is pushed; the orvane-phone
    // program is paired too.
    std::unique_ptr<PhoneClient> watchingPhone()
    {
        const auto paired = std::chrono::steady_clock::now();
        auto watcher = pairedPhone(makeUuid(systemRandom()));
        // The server spaces pairings five seconds apart.
        std::this_thread::sleep_until(paired + std::chrono::milliseconds(5200));
        pairThePhone();
        return watcher;
    }

    // The ids of the willing and the stubborn test window, as the phone
    // lists them; empty when those two are not what is listed.
    std::pair<std::string, std::string> listedWindows()
    {
        const json listed = json::parse(phone({"windows"}).output, nullptr, false);
        std::string stubbornId, willingId;
        for (const json& window : listed.is_array() ? listed : json::array()) {
            const std::string id = std::to_string(window.value("id", 0u));
            (window.value("title", "") == "Orvane willing" ? willingId : stubbornId) = id;
        }
        EXPECT_EQ(listed.size(), 2u) << listed.dump();
        if (listed.size() != 2u)
            return {};
        return {willingId, stubbornId};
    }

    // The next frontmost application the phone is told of that is `id`.
    static bool toldFrontmost(PhoneClient& phone, const std::string& id)
    {
        for (int i = 0; i < 10; ++i) {
            auto told = phone.receiveCase<msg::FrontmostApp>(timeoutMs);
            if (!told.ok())
                return false;
            if (told->value && told->value->bundleID == id)
                return true;
        }
        return false;
    }
};

// On sway, everything but the windows goes through wlroots' own protocols:
// a double click where the phone points, any text, the clipboard both ways
// round, and the screen's pictures.
TEST_F(Sway, InputTheClipboardAndTheScreenReachANativeWindow)
{
    ASSERT_TRUE(gnomeProvided());
    EXPECT_NE(m_server->output().find("orvane: input and screen: wlroots (Wayland)\n"),
              std::string::npos)
        << m_server->output();
    auto window = startWindow("e02020");
    pairThePhone();
    ASSERT_EQ(phone({"pointer", "click", "0.25", "0.5", "--count", "2"}).status, 0);
    auto pressed = heard(*window, "button", [](const json& b) { return b["n"] == 2; });
    ASSERT_TRUE(pressed) << window->output();
    EXPECT_NEAR((*pressed)["x"].get<double>(), 400, 2);
    EXPECT_NEAR((*pressed)["y"].get<double>(), 500, 2);

    expectTyped(*window, "Grüße, € Ж 日本 😀");
    expectPhoneCopyPasted(*window);

    const fs::path frames = m_home / "frames";
    const Run watched = phone({"watch", "--frames", "1", "--save", frames.string()});
    ASSERT_EQ(watched.status, 0) << watched.errors;
    ASSERT_FALSE(fs::is_empty(frames));
    const QImage picture(QString::fromStdString(fs::directory_iterator(frames)->path().string()));
    ASSERT_EQ(picture.size(), QSize(1600, 1000));
    EXPECT_GT(picture.pixelColor(1300, 800).red(), 200);
    EXPECT_LT(picture.pixelColor(1300, 800).green(), 60);
}

// On sway the windows go through its IPC socket: listed, focused (and the
// phone told the new frontmost application), put on the left half, and a
// polite quit of everything leaves the window whose program refuses.
TEST_F(Sway, WindowsAreArrangedFocusedAndAskedToClose)
{
    ASSERT_TRUE(gnomeProvided());
    EXPECT_NE(m_server->output().find("orvane: windows: sway\n"), std::string::npos)
        << m_server->output();
    auto watcher = watchingPhone();
    TwoWindows programs = startTwoWindows("org.orvane.Stubborn");
    const auto [willingId, stubbornId] = listedWindows();
    ASSERT_FALSE(willingId.empty());

    EXPECT_EQ(phone({"focus-window", stubbornId}).status, 0);
    EXPECT_TRUE(until([] { return swayWindow("Orvane stubborn").value("focused", false); }));
    EXPECT_TRUE(toldFrontmost(*watcher, "org.orvane.Stubborn"));
    const Run moved = phone({"window", "left-half"});
    EXPECT_EQ(moved.status, 0) << moved.errors;
    const json left = {{"x", 0}, {"y", 0}, {"width", 800}, {"height", 1000}};
    EXPECT_TRUE(until([&] { return swayWindow("Orvane stubborn")["rect"] == left; }))
        << swayWindow("Orvane stubborn")["rect"].dump();
    EXPECT_EQ(phone({"focus-window", willingId}).status, 0);
    EXPECT_TRUE(toldFrontmost(*watcher, "org.orvane.Probe"));

    expectPoliteQuitAll(programs);
}

// Other wlroots desktops offer only the foreign-toplevel window list, which
// names no processes: the windows' programs are found by their application
// ids, so the frontmost application follows the focus and a polite quit
// reaches the windows. Sway without its own socket stands in for them.
class WlrootsToplevels : public Sway {
protected:
    void prepareHome() override
    {
        Sway::prepareHome();
        m_extraEnv["SWAYSOCK"] = "";
    }
};

TEST_F(WlrootsToplevels, ProgramsAreFoundByTheirApplicationIds)
{
    ASSERT_TRUE(gnomeProvided());
    EXPECT_NE(m_server->output().find("orvane: windows: wlroots window list"), std::string::npos)
        << m_server->output();
    auto watcher = watchingPhone();
    TwoWindows programs = startTwoWindows("org.orvane.Stubborn");
    const auto [willingId, stubbornId] = listedWindows();
    ASSERT_FALSE(willingId.empty());

    EXPECT_EQ(phone({"focus-window", stubbornId}).status, 0);
    EXPECT_TRUE(toldFrontmost(*watcher, "org.orvane.Stubborn"));
    // Sway gives no focus to a window behind a full-screen one.
    EXPECT_EQ(phone({"window", "full-screen"}).status, 0);
    EXPECT_TRUE(until([] { return swayWindow("Orvane stubborn")["fullscreen_mode"] == 0; }));
    EXPECT_EQ(phone({"focus-window", willingId}).status, 0);
    EXPECT_TRUE(toldFrontmost(*watcher, "org.orvane.Probe"));

    expectPoliteQuitAll(programs);
}

} // namespace
} // namespace orvane::phone
