#include "command_set.h"

#include "media_controller.h"
#include "system_actions.h"
#include "window_catalog.h"

namespace orvane {

namespace {

template <class T, class Make> std::unique_ptr<T> orMake(std::unique_ptr<T> given, Make make)
{
    return given ? std::move(given) : make();
}

} // namespace

CommandSet::CommandSet(Platform& platform, Settings& settings, MacInfoProvider& macInfo,
                       StatsProvider& stats, std::function<std::int64_t()> monotonicMs,
                       Overrides overrides)
    : m_input(*platform.input),
      media(orMake(std::move(overrides.media),
                   [&]() -> std::unique_ptr<MediaCommands> {
                       return std::make_unique<MediaController>(
                           *platform.media, *platform.workspace, *platform.applications);
                   })),
      system(orMake(std::move(overrides.system),
                    [&]() -> std::unique_ptr<SystemCommands> {
                        return std::make_unique<SystemActions>(
                            *platform.system, [this] { return inputAvailable(); }, settings);
                    })),
      windows(orMake(std::move(overrides.windows),
                     [&]() -> std::unique_ptr<WindowCommands> {
                         return std::make_unique<WindowCatalog>(
                             *platform.windows, *platform.applications,
                             [&windows = *platform.windows] { return windows.isAvailable(); });
                     })),
      apps(*platform.applications), keyboard(*platform.input),
      desktop(*platform.workspace, *platform.pasteboard, *platform.displays),
      pointer(*platform.input, *platform.displays, monotonicMs),
      userActivity(*platform.power, monotonicMs),
      dispatcher({apps, keyboard, desktop, *media, *system, *windows}),
      queries({*platform.applications, desktop, *windows, *media, *system, macInfo, stats,
               platform.events.get()})
{
}

} // namespace orvane
