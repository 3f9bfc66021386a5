// A paired phone against the real server on the test display: the state it
// receives after authentication, its requests, and the pushes when an
// application window appears and becomes active.
#include "e2e_fixture.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace orvane::phone {
namespace {

// A window of this test process, announced on the root window the way a
// window manager would, so the server sees an application start and come to
// the front. Everything it set on the root is removed again.
class ProbeWindow {
public:
    ProbeWindow()
    {
        m_c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_c))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        m_window = xcb_generate_id(m_c);
        xcb_create_window(m_c, XCB_COPY_FROM_PARENT, m_window, m_root, 0, 0, 400, 300, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const char wmClass[] = "probe\0OrvaneProbe";
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, m_window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, sizeof wmClass, wmClass);
        std::uint32_t pid = static_cast<std::uint32_t>(::getpid());
        setCardinal(m_window, "_NET_WM_PID", XCB_ATOM_CARDINAL, pid);
        xcb_map_window(m_c, m_window);
        xcb_flush(m_c);
    }
    ~ProbeWindow()
    {
        if (xcb_connection_has_error(m_c)) {
            xcb_disconnect(m_c);
            return;
        }
        xcb_delete_property(m_c, m_root, atom("_NET_CLIENT_LIST"));
        xcb_delete_property(m_c, m_root, atom("_NET_ACTIVE_WINDOW"));
        xcb_destroy_window(m_c, m_window);
        xcb_flush(m_c);
        xcb_disconnect(m_c);
    }
    bool ok() const { return !xcb_connection_has_error(m_c); }
    void announce() { setCardinal(m_root, "_NET_CLIENT_LIST", XCB_ATOM_WINDOW, m_window); }
    void activate() { setCardinal(m_root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW, m_window); }

private:
    xcb_atom_t atom(const char* name)
    {
        auto cookie = xcb_intern_atom(m_c, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
        xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(m_c, cookie, nullptr);
        xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    }
    void setCardinal(xcb_window_t window, const char* name, xcb_atom_t type, std::uint32_t value)
    {
        xcb_change_property(m_c, XCB_PROP_MODE_REPLACE, window, atom(name), type, 32, 1, &value);
        xcb_flush(m_c);
    }

    xcb_connection_t* m_c = nullptr;
    xcb_window_t m_root = 0;
    xcb_window_t m_window = 0;
};

class Pushes : public EndToEnd {
protected:
    void prepareHome() override
    {
        const fs::path data = m_home / ".local/share";
        fs::create_directories(data / "applications");
        std::ofstream(data / "applications/org.orvane.Probe.desktop")
            << "[Desktop Entry]\nType=Application\nName=Probe\nExec=true\nIcon=orvane-probe\n"
               "StartupWMClass=OrvaneProbe\n";
        fs::create_directories(data / "icons/hicolor/48x48/apps");
        fs::copy_file(ORVANE_PICTURE_PATH, data / "icons/hicolor/48x48/apps/orvane-probe.png");
    }

    template <class T> T expect(PhoneClient& phone)
    {
        auto received = phone.receiveCase<T>(timeoutMs);
        EXPECT_TRUE(received.ok()) << (received.ok() ? "" : received.error().message);
        return received.ok() ? *received : T{};
    }
};

TEST_F(Pushes, StateRequestsAndDesktopChangesReachThePhone)
{
    const char* why = std::getenv("ORVANE_TEST_DISPLAY_ERROR");
    ASSERT_TRUE(std::getenv("ORVANE_TEST_DISPLAY_OK"))
        << "needs the test display: " << (why ? why : "not started");
    auto phone = pairedPhone(makeUuid(systemRandom()));
    // After welcome, in this order and before anything else.
    std::vector<std::string> order;
    std::optional<msg::Info> info;
    for (int i = 0; i < 4; ++i) {
        auto next = phone->receive(timeoutMs);
        ASSERT_TRUE(next.ok()) << next.error().message;
        order.emplace_back(caseName(next->message));
        if (auto* m = std::get_if<msg::Info>(&next->message))
            info = *m;
    }
    EXPECT_EQ(order,
              (std::vector<std::string>{"macInfo", "nowPlaying", "systemState", "frontmostApp"}));
    ASSERT_TRUE(info && info->value.imagePNG);
    EXPECT_EQ(info->value.imagePNG->at(1), 'P');
    EXPECT_GT(info->value.memoryBytes, 0);

    ASSERT_TRUE(phone->send(msg::RequestInfo{}).ok());
    EXPECT_FALSE(expect<msg::Info>(*phone).value.imagePNG);
    ASSERT_TRUE(phone->send(msg::RequestStats{}).ok());
    EXPECT_GT(expect<msg::Stats>(*phone).value.memoryTotal, 0);
    ASSERT_TRUE(phone->send(msg::RequestApps{}).ok());
    auto catalog = expect<msg::AppCatalog>(*phone).value;
    EXPECT_NE(
        std::find(catalog.apps.begin(), catalog.apps.end(), MacApp{"org.orvane.Probe", "Probe"}),
        catalog.apps.end());
    ASSERT_TRUE(phone->send(msg::RequestIcons{{{"missing.app", "org.orvane.Probe"}}}).ok());
    auto icon = expect<msg::AppIcon>(*phone);
    EXPECT_EQ(icon.bundleID, "org.orvane.Probe");
    EXPECT_GT(icon.png.size(), 8u);
    ASSERT_TRUE(phone->send(msg::RequestWindows{}).ok());
    expect<msg::Windows>(*phone);
    ASSERT_TRUE(phone->send(msg::RequestClipboard{}).ok());
    expect<msg::Clipboard>(*phone);

    ProbeWindow window;
    ASSERT_TRUE(window.ok());
    window.announce();
    auto running = expect<msg::RunningApps>(*phone).value;
    EXPECT_NE(std::find(running.begin(), running.end(), "org.orvane.Probe"), running.end());
    window.activate();
    EXPECT_EQ(expect<msg::FrontmostApp>(*phone).value, (MacApp{"org.orvane.Probe", "Probe"}));
}

} // namespace
} // namespace orvane::phone
