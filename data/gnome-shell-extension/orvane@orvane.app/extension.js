/* Orvane's window access on GNOME Shell.
 *
 * A Wayland client sees no other client's windows, so Orvane asks the shell:
 * this extension owns org.orvane.Shell on the session bus and answers for the
 * windows on /org/orvane/Shell/Windows. Ids are mutter's window ids, stable
 * for a window's life. Unknown ids are answered with false or nothing: a
 * window may close between Orvane's look and its request.
 */
'use strict';

const { Gio, GLib, Meta, Shell } = imports.gi;
const Main = imports.ui.main;

const BUS_NAME = 'org.orvane.Shell';
const OBJECT_PATH = '/org/orvane/Shell/Windows';
const IFACE = `<node>
<interface name="org.orvane.Shell.Windows">
  <method name="GetWindows"><arg type="aa{sv}" direction="out" name="windows"/></method>
  <method name="Activate"><arg type="t" name="id"/><arg type="b" direction="out" name="known"/></method>
  <method name="SendToBack"><arg type="t" name="id"/></method>
  <method name="Close"><arg type="t" name="id"/></method>
  <method name="Minimize"><arg type="t" name="id"/></method>
  <method name="ToggleFullScreen"><arg type="t" name="id"/></method>
  <method name="SetFrame"><arg type="t" name="id"/><arg type="i" name="x"/><arg type="i" name="y"/>
    <arg type="i" name="width"/><arg type="i" name="height"/></method>
  <method name="WorkArea"><arg type="i" name="x"/><arg type="i" name="y"/>
    <arg type="(iiii)" direction="out" name="area"/></method>
  <signal name="WindowsChanged"/>
  <signal name="FocusChanged"><arg type="t" name="id"/></signal>
</interface>
</node>`;

// Moves and resizes come in bursts while a window is dragged; one signal per
// burst is enough for a mirror that re-reads the whole list.
const CHANGE_DELAY_MS = 100;
const WINDOW_SIGNALS = ['notify::title', 'notify::minimized', 'position-changed', 'size-changed',
    'unmanaged'];

function managedWindows() {
    const windows = global.get_window_actors()
        .map(actor => actor.get_meta_window())
        .filter(window => window && !window.is_override_redirect());
    return global.display.sort_windows_by_stacking(windows).reverse();
}

function findWindow(id) {
    return managedWindows().find(window => window.get_id() === id) || null;
}

function appId(window) {
    const app = Shell.WindowTracker.get_default().get_window_app(window);
    // Windows without a desktop entry get made-up ids such as "window:12".
    if (app && !app.get_id().startsWith('window:'))
        return app.get_id();
    return window.get_wm_class() || window.get_wm_class_instance() || '';
}

function describe(window, focus) {
    const frame = window.get_frame_rect();
    return {
        id: new GLib.Variant('t', window.get_id()),
        title: new GLib.Variant('s', window.get_title() || ''),
        app_id: new GLib.Variant('s', appId(window)),
        pid: new GLib.Variant('i', window.get_pid()),
        normal: new GLib.Variant('b', window.get_window_type() === Meta.WindowType.NORMAL &&
            !window.is_skip_taskbar()),
        minimized: new GLib.Variant('b', window.minimized),
        frame: new GLib.Variant('(iiii)', [frame.x, frame.y, frame.width, frame.height]),
        focused: new GLib.Variant('b', window === focus),
    };
}

class WindowsService {
    constructor() {
        this._watched = new Map();
        this._displaySignals = [];
        this._changeTimer = 0;
    }

    start() {
        this._dbus = Gio.DBusExportedObject.wrapJSObject(IFACE, this);
        this._dbus.export(Gio.DBus.session, OBJECT_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, BUS_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
        const display = global.display;
        this._displaySignals = [
            display.connect('window-created', (_d, window) => {
                this._watch(window);
                this._changed();
            }),
            display.connect('restacked', () => this._changed()),
            display.connect('notify::focus-window', () => this._focusChanged()),
        ];
        managedWindows().forEach(window => this._watch(window));
    }

    stop() {
        this._displaySignals.forEach(id => global.display.disconnect(id));
        this._displaySignals = [];
        for (const [window, ids] of this._watched)
            ids.forEach(id => window.disconnect(id));
        this._watched.clear();
        if (this._changeTimer)
            GLib.source_remove(this._changeTimer);
        this._changeTimer = 0;
        if (this._nameId)
            Gio.bus_unown_name(this._nameId);
        this._nameId = 0;
        this._dbus.unexport();
        this._dbus = null;
    }

    _watch(window) {
        if (this._watched.has(window))
            return;
        const ids = WINDOW_SIGNALS.map(name => window.connect(name, () => {
            if (name === 'unmanaged')
                this._forget(window);
            this._changed();
        }));
        this._watched.set(window, ids);
    }

    _forget(window) {
        (this._watched.get(window) || []).forEach(id => window.disconnect(id));
        this._watched.delete(window);
    }

    _changed() {
        if (this._changeTimer)
            return;
        this._changeTimer = GLib.timeout_add(GLib.PRIORITY_DEFAULT, CHANGE_DELAY_MS, () => {
            this._changeTimer = 0;
            this._dbus?.emit_signal('WindowsChanged', null);
            return GLib.SOURCE_REMOVE;
        });
    }

    _focusChanged() {
        const focus = global.display.focus_window;
        this._dbus?.emit_signal('FocusChanged', new GLib.Variant('(t)', [focus ? focus.get_id() : 0]));
        this._changed();
    }

    GetWindows() {
        const focus = global.display.focus_window;
        return managedWindows().map(window => describe(window, focus));
    }

    Activate(id) {
        const window = findWindow(id);
        if (!window)
            return false;
        Main.activateWindow(window, global.get_current_time());
        return true;
    }

    SendToBack(id) {
        findWindow(id)?.lower();
    }

    Close(id) {
        // A request the application may refuse (unsaved work), never a kill.
        findWindow(id)?.delete(global.get_current_time());
    }

    Minimize(id) {
        const window = findWindow(id);
        if (window?.can_minimize())
            window.minimize();
    }

    ToggleFullScreen(id) {
        const window = findWindow(id);
        if (!window)
            return;
        if (window.is_fullscreen())
            window.unmake_fullscreen();
        else
            window.make_fullscreen();
    }

    SetFrame(id, x, y, width, height) {
        const window = findWindow(id);
        if (!window || width <= 0 || height <= 0)
            return;
        if (window.is_fullscreen())
            window.unmake_fullscreen();
        if (window.get_maximized())
            window.unmaximize(Meta.MaximizeFlags.BOTH);
        if (window.minimized)
            window.unminimize();
        window.move_resize_frame(true, x, y, width, height);
    }

    WorkArea(x, y) {
        const display = global.display;
        let monitor = display.get_primary_monitor();
        for (let i = 0; i < display.get_n_monitors(); i++) {
            const area = display.get_monitor_geometry(i);
            if (x >= area.x && y >= area.y && x < area.x + area.width && y < area.y + area.height) {
                monitor = i;
                break;
            }
        }
        const workspace = global.workspace_manager.get_active_workspace();
        const area = workspace.get_work_area_for_monitor(Math.max(monitor, 0));
        return [area.x, area.y, area.width, area.height];
    }
}

class Extension {
    enable() {
        this._service = new WindowsService();
        this._service.start();
    }

    disable() {
        this._service?.stop();
        this._service = null;
    }
}

function init() {
    return new Extension();
}
