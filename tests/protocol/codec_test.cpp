// Round trips over every case of every wire union and every record, built
// from the same field lists the codec reads, so a case added to a union is
// covered without touching this file.
#include "protocol/codec.h"
#include "protocol/wire_traits.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

namespace orvane {
namespace {

// Fills a value with distinct, non-default contents derived from a seed, so
// a member that is swapped, dropped or mistyped by the codec shows up.
struct Sampler {
    unsigned seed;
    bool withOptionals;

    template <class T>
    void fill(T& out)
    {
        ++seed;
        if constexpr (std::is_same_v<T, bool>) {
            out = seed % 2 == 0;
        } else if constexpr (std::is_same_v<T, std::string>) {
            out = "text " + std::to_string(seed) + " \xC3\xA9/\xF0\x9F\x8E\xB5\"";
        } else if constexpr (std::is_same_v<T, double>) {
            out = seed * 1.25 - 0.1;
        } else if constexpr (std::is_same_v<T, std::int64_t>) {
            out = std::int64_t(seed) * 1'000'000'007LL * (seed % 2 ? -1 : 1);
        } else if constexpr (std::is_integral_v<T>) {
            out = static_cast<T>(std::numeric_limits<T>::max() - seed);
        } else if constexpr (std::is_same_v<T, Bytes>) {
            out.assign(seed % 7 + 1, static_cast<std::uint8_t>(seed * 37));
        } else if constexpr (std::is_same_v<T, Uuid>) {
            for (auto& b : out.bytes)
                b = static_cast<std::uint8_t>(seed++ * 13);
        } else if constexpr (std::is_enum_v<T>) {
            out = static_cast<T>(seed % EnumTexts<T>::texts.size());
        } else if constexpr (IsOptional<T>::value) {
            if (withOptionals) {
                typename T::value_type inner{};
                fill(inner);
                out = std::move(inner);
            } else {
                out.reset();
            }
        } else if constexpr (IsVector<T>::value) {
            out.resize(2);
            for (auto& element : out)
                fill(element);
        } else if constexpr (IsVariant<T>::value) {
            fillAlternative(out, seed % std::variant_size_v<T>,
                            std::make_index_sequence<std::variant_size_v<T>>{});
        } else {
            T::fields(out, [&](std::string_view, auto& field) { fill(field); });
        }
    }

    template <class V, std::size_t... I>
    void fillAlternative(V& out, std::size_t index, std::index_sequence<I...>)
    {
        (void)((index == I ? (out = sampled<std::variant_alternative_t<I, V>>(), true) : false) ||
               ...);
    }

    template <class T>
    T sampled()
    {
        T value{};
        fill(value);
        return value;
    }
};

template <class V, class F, std::size_t... I>
void forEachCase(F&& f, std::index_sequence<I...>)
{
    (f(std::integral_constant<std::size_t, I>{}), ...);
}

template <class V>
void roundTripEveryCase()
{
    forEachCase<V>(
        [](auto index) {
            using A = std::variant_alternative_t<decltype(index)::value, V>;
            for (bool optionals : {true, false}) {
                Sampler sampler{unsigned(index) * 31, optionals};
                V original = sampler.sampled<A>();
                auto json = encodeJson(original);
                ASSERT_TRUE(json.ok()) << A::caseName << ": " << json.error().message;
                auto parsed = nlohmann::json::parse(*json);
                ASSERT_EQ(parsed.size(), 1u);
                EXPECT_EQ(parsed.begin().key(), A::caseName);
                auto decoded = decodeJson<V>(*json);
                ASSERT_TRUE(decoded.ok()) << *json << ": " << decoded.error().message << " at "
                                          << decoded.error().where;
                EXPECT_TRUE(*decoded == original) << *json;
            }
        },
        std::make_index_sequence<std::variant_size_v<V>>{});
}

TEST(CodecRoundTrip, EveryCaseOfEveryUnion)
{
    roundTripEveryCase<OrvaneMessage>();
    roundTripEveryCase<OrvaneCommand>();
    roundTripEveryCase<MediaAction>();
    roundTripEveryCase<SystemAction>();
    roundTripEveryCase<PointerEvent>();
}

template <class R>
void roundTripRecord()
{
    for (bool optionals : {true, false}) {
        Sampler sampler{7, optionals};
        R original = sampler.sampled<R>();
        auto json = encodeJson(original);
        ASSERT_TRUE(json.ok()) << json.error().message;
        auto decoded = decodeJson<R>(*json);
        ASSERT_TRUE(decoded.ok()) << *json << ": " << decoded.error().message;
        EXPECT_TRUE(*decoded == original) << *json;
    }
}

TEST(CodecRoundTrip, EveryRecord)
{
    roundTripRecord<MacInfo>();
    roundTripRecord<MacStats>();
    roundTripRecord<AppUsage>();
    roundTripRecord<MacApp>();
    roundTripRecord<AppCatalogPayload>();
    roundTripRecord<MacWindow>();
    roundTripRecord<DisplayInfo>();
    roundTripRecord<NowPlaying>();
    roundTripRecord<SystemState>();
    roundTripRecord<KeyShortcut>();
}

TEST(CodecRoundTrip, EveryEnumText)
{
    for (std::size_t i = 0; i < EnumTexts<KeyShortcut::Key>::texts.size(); ++i) {
        KeyShortcut shortcut{static_cast<KeyShortcut::Key>(i), {KeyShortcut::Modifier::command}};
        auto json = encodeJson(shortcut);
        ASSERT_TRUE(json.ok());
        auto back = decodeJson<KeyShortcut>(*json);
        ASSERT_TRUE(back.ok()) << *json;
        EXPECT_EQ(*back, shortcut);
    }
    for (std::size_t i = 0; i < EnumTexts<WindowAction>::texts.size(); ++i) {
        OrvaneCommand command = command::Window{{static_cast<WindowAction>(i)}};
        auto back = decodeJson<OrvaneCommand>(*encodeJson(command));
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(*back == command);
    }
    for (std::size_t i = 0; i < EnumTexts<MacFolder>::texts.size(); ++i) {
        OrvaneCommand command = command::OpenFolder{{static_cast<MacFolder>(i)}};
        auto back = decodeJson<OrvaneCommand>(*encodeJson(command));
        ASSERT_TRUE(back.ok());
        EXPECT_TRUE(*back == command);
    }
}

TEST(CodecRoundTrip, ExtremesOfEveryIntegerWidth)
{
    MacWindow window{std::numeric_limits<std::uint32_t>::max(), "b", "a", "", true};
    EXPECT_EQ(*decodeJson<MacWindow>(*encodeJson(window)), window);
    AppUsage usage{std::numeric_limits<std::int32_t>::min(), "b", "n", 0,
                   std::numeric_limits<std::int64_t>::min()};
    EXPECT_EQ(*decodeJson<AppUsage>(*encodeJson(usage)), usage);
    usage = {std::numeric_limits<std::int32_t>::max(), "b", "n", -0.5,
             std::numeric_limits<std::int64_t>::max()};
    EXPECT_EQ(*decodeJson<AppUsage>(*encodeJson(usage)), usage);
}

} // namespace
} // namespace orvane
