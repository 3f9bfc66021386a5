// Runs inside KWin: tells Orvane the windows, front to back, and the screens
// at every change, and carries out what Orvane asks for. KWin scripts cannot
// answer a caller, so both directions are calls from here to Orvane's own
// object: reports, and a standing request for work that Orvane answers when
// it has some (or after a while with nothing, to be asked again).
var orvane = "ORVANE_SERVICE";
var path = "/org/orvane/KWinWindows";
var face = "org.orvane.KWinWindows";
var sending = false;
var dirty = false;

function box(r) {
    return {x: r.x, y: r.y, width: r.width, height: r.height};
}

function describe(w) {
    return {
        id: String(w.internalId), title: w.caption, pid: w.pid,
        app: w.desktopFileName || w.resourceClass || w.resourceName,
        normal: w.normalWindow, minimized: w.minimized, fullScreen: w.fullScreen,
        shown: shown(w),
        active: w === workspace.activeClient, frame: box(w.frameGeometry)
    };
}

function screens() {
    var all = [];
    for (var i = 0; i < workspace.numScreens; ++i)
        all.push({
            geometry: box(workspace.clientArea(KWin.ScreenArea, i, workspace.currentDesktop)),
            workArea: box(workspace.clientArea(KWin.MaximizeArea, i, workspace.currentDesktop))
        });
    return all;
}

function windows(gone) {
    return workspace.clientList().filter(function (w) { return w !== gone && !w.deleted; });
}

// One report in flight at a time: changes that come meanwhile (a window
// being dragged) are sent together once Orvane has taken the last one.
function report(gone) {
    if (sending) {
        dirty = true;
        return;
    }
    sending = true;
    dirty = false;
    var list = windows(gone).sort(frontFirst);
    var text = JSON.stringify({windows: list.map(describe), screens: screens()});
    callDBus(orvane, path, face, "report", text, function () {
        sending = false;
        if (dirty)
            report();
    });
}

function changed() { report(); }

function watch(w) {
    [w.captionChanged, w.frameGeometryChanged, w.minimizedChanged, w.stackingOrderChanged,
     w.fullScreenChanged, w.desktopChanged].forEach(function (signal) {
        if (signal)
            signal.connect(changed);
    });
}

function find(id) {
    var list = windows(null);
    for (var i = 0; i < list.length; ++i)
        if (String(list[i].internalId) === id)
            return list[i];
    return null;
}

function shown(w) {
    return !w.minimized && (w.onAllDesktops || w.desktop === workspace.currentDesktop);
}

function frontFirst(a, b) {
    return b.stackingOrder - a.stackingOrder;
}

// KWin lowers only the active window, and an active full-screen window stays
// above all others wherever it stands: the focus goes back to the window that
// had it, or to the frontmost other one.
function lower(w) {
    var before = workspace.activeClient;
    workspace.activeClient = w;
    workspace.slotWindowLower();
    var others = windows(w).filter(function (o) { return o.normalWindow && shown(o); });
    var next = before && before !== w ? before : others.sort(frontFirst)[0];
    if (next)
        workspace.activeClient = next;
}

function perform(order) {
    var w = find(order.id);
    if (!w)
        return;
    if (order.action === "activate") {
        w.minimized = false;
        workspace.activeClient = w;
    } else if (order.action === "lower") {
        lower(w);
    } else if (order.action === "close") {
        w.closeWindow();
    } else if (order.action === "minimize") {
        w.minimized = true;
    } else if (order.action === "fullScreen") {
        w.fullScreen = !w.fullScreen;
    } else if (order.action === "frame") {
        w.fullScreen = false;
        w.setMaximize(false, false);
        w.frameGeometry = {x: order.x, y: order.y, width: order.width, height: order.height};
    }
}

function ask() {
    callDBus(orvane, path, face, "orders", function (text) {
        try {
            JSON.parse(text).forEach(perform);
        } catch (error) {
            print("orvane: " + error);
        }
        ask();
    });
}

workspace.clientList().forEach(watch);
workspace.clientAdded.connect(function (w) { watch(w); report(); });
workspace.clientRemoved.connect(function (w) { report(w); });
workspace.clientActivated.connect(changed);
workspace.numberScreensChanged.connect(changed);
workspace.screenResized.connect(changed);
workspace.currentDesktopChanged.connect(changed);
report();
ask();
