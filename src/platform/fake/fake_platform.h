#pragma once

#include "platform/fake/fake_applications.h"
#include "platform/fake/fake_displays.h"
#include "platform/fake/fake_input.h"
#include "platform/fake/fake_pasteboard.h"
#include "platform/fake/fake_power.h"
#include "platform/fake/fake_workspace.h"
#include "platform/fake/fake_workspace_events.h"
#include "platform/platform.h"

#include <memory>

// Recording fakes of every command family, for unit tests.
namespace orvane {

// A Platform made of fakes, with typed handles to each.
struct FakePlatform {
    FakeInput* input;
    FakeDisplays* displays;
    FakeApplications* applications;
    FakeWorkspace* workspace;
    FakePasteboard* pasteboard;
    FakePower* power;
    FakeWorkspaceEvents* events;
    Platform platform;

    FakePlatform()
    {
        auto in = std::make_unique<FakeInput>();
        auto ds = std::make_unique<FakeDisplays>();
        auto apps = std::make_unique<FakeApplications>();
        auto ws = std::make_unique<FakeWorkspace>();
        auto pb = std::make_unique<FakePasteboard>();
        auto pw = std::make_unique<FakePower>();
        auto ev = std::make_unique<FakeWorkspaceEvents>();
        input = in.get();
        displays = ds.get();
        applications = apps.get();
        workspace = ws.get();
        pasteboard = pb.get();
        power = pw.get();
        events = ev.get();
        // The media, system and window families are faked at the command
        // level (their logic is what the tests look at), so they stay empty.
        platform.input = std::move(in);
        platform.displays = std::move(ds);
        platform.applications = std::move(apps);
        platform.workspace = std::move(ws);
        platform.pasteboard = std::move(pb);
        platform.power = std::move(pw);
        platform.events = std::move(ev);
    }
};

} // namespace orvane
