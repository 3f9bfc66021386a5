#include "codec.h"

#include "base64.h"
#include "json_parse.h"
#include "trusted_device.h"
#include "utf8.h"
#include "wire_traits.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>
#include <type_traits>

namespace orvane {
namespace {

using Json = nlohmann::json;

template <class T>
concept TextEnum = std::is_enum_v<T> && requires
{
    EnumTexts<T>::texts;
};

const std::string invalidCaseKeys = "Invalid number of keys found, expected one.";

// ---------------------------------------------------------------- encoding

struct EncodeState {
    bool ok = true;
    std::string error;

    void fail(std::string message)
    {
        if (ok) {
            ok = false;
            error = std::move(message);
        }
    }
};

template <class T> Json encodeValue(const T& value, EncodeState& state);

template <class T> Json encodeFields(const T& value, EncodeState& state)
{
    Json object = Json::object();
    T::fields(value, [&](std::string_view name, const auto& field) {
        using F = std::decay_t<decltype(field)>;
        if constexpr (IsOptional<F>::value) {
            if (field)
                object[std::string(name)] = encodeValue(*field, state);
        } else {
            object[std::string(name)] = encodeValue(field, state);
        }
    });
    return object;
}

template <class T> Json encodeValue(const T& value, EncodeState& state)
{
    if constexpr (std::is_same_v<T, bool>) {
        return value;
    } else if constexpr (std::is_same_v<T, std::string>) {
        // Texts from the system (window titles, file names) need not be UTF-8.
        return utf8::isValid(value) ? value : utf8::sanitize(value);
    } else if constexpr (std::is_same_v<T, ShortText>) {
        return encodeValue(value.text, state);
    } else if constexpr (std::is_same_v<T, double>) {
        if (!std::isfinite(value))
            state.fail("cannot encode a non-finite number");
        return value;
    } else if constexpr (std::is_integral_v<T>) {
        return value;
    } else if constexpr (std::is_same_v<T, Bytes>) {
        return base64Encode(value);
    } else if constexpr (std::is_same_v<T, Uuid>) {
        return value.toString();
    } else if constexpr (TextEnum<T>) {
        return enumText(value);
    } else if constexpr (IsVector<T>::value) {
        Json array = Json::array();
        array.get_ref<Json::array_t&>().reserve(value.size());
        for (const auto& element : value)
            array.push_back(encodeValue(element, state));
        return array;
    } else if constexpr (IsVariant<T>::value) {
        return std::visit(
            [&](const auto& alternative) {
                using A = std::decay_t<decltype(alternative)>;
                Json object = Json::object();
                object[std::string(A::caseName)] = encodeFields(alternative, state);
                return object;
            },
            value);
    } else {
        return encodeFields(value, state);
    }
}

// ---------------------------------------------------------------- decoding

struct DecodeState {
    bool ok = true;
    Error error;

    bool fail(ErrorKind kind, std::string message)
    {
        if (ok) {
            ok = false;
            error.message = std::move(message);
            error.kind = kind;
        }
        return false;
    }

    // Called while unwinding, so the path is built from the inside out.
    void enter(std::string_view name)
    {
        if (error.where.empty())
            error.where = std::string(name);
        else
            error.where = std::string(name) + "." + error.where;
    }
};

template <class T> bool decodeValue(const Json& json, T& out, DecodeState& state);

template <class I> bool decodeInteger(const Json& json, I& out, DecodeState& state)
{
    using Limits = std::numeric_limits<I>;
    if (const auto* u = json.get_ptr<const Json::number_unsigned_t*>()) {
        if (*u > static_cast<std::uint64_t>(Limits::max()))
            return state.fail(ErrorKind::outOfRange,
                              "number " + std::to_string(*u) + " does not fit");
        out = static_cast<I>(*u);
        return true;
    }
    if (const auto* i = json.get_ptr<const Json::number_integer_t*>()) {
        if (*i < static_cast<std::int64_t>(Limits::min()) ||
            (*i > 0 && static_cast<std::uint64_t>(*i) > static_cast<std::uint64_t>(Limits::max())))
            return state.fail(ErrorKind::outOfRange,
                              "number " + std::to_string(*i) + " does not fit");
        out = static_cast<I>(*i);
        return true;
    }
    return state.fail(ErrorKind::wrongType, "expected an integer");
}

bool decodeDouble(const Json& json, double& out, DecodeState& state)
{
    if (const auto* f = json.get_ptr<const Json::number_float_t*>())
        out = *f;
    else if (const auto* u = json.get_ptr<const Json::number_unsigned_t*>())
        out = static_cast<double>(*u);
    else if (const auto* i = json.get_ptr<const Json::number_integer_t*>())
        out = static_cast<double>(*i);
    else
        return state.fail(ErrorKind::wrongType, "expected a number");
    if (!std::isfinite(out))
        return state.fail(ErrorKind::outOfRange, "number out of range");
    return true;
}

const std::string* stringOf(const Json& json, DecodeState& state)
{
    const auto* text = json.get_ptr<const Json::string_t*>();
    if (!text)
        state.fail(ErrorKind::wrongType, "expected a string");
    return text;
}

template <class E> bool decodeEnum(const Json& json, E& out, DecodeState& state)
{
    const std::string* text = stringOf(json, state);
    if (!text)
        return false;
    const auto& texts = EnumTexts<E>::texts;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        if (texts[i] == *text) {
            out = static_cast<E>(i);
            return true;
        }
    }
    return state.fail(ErrorKind::invalidValue, "unknown value \"" + *text + "\"");
}

template <class T> bool decodeFields(const Json& json, T& out, DecodeState& state)
{
    if (!json.is_object())
        return state.fail(ErrorKind::wrongType, "expected an object");
    T::fields(out, [&](std::string_view name, auto& field) {
        if (!state.ok)
            return;
        using F = std::decay_t<decltype(field)>;
        auto it = json.find(name);
        if constexpr (IsOptional<F>::value) {
            if (it == json.end() || it->is_null()) {
                field.reset();
                return;
            }
            typename F::value_type inner{};
            if (decodeValue(*it, inner, state))
                field = std::move(inner);
        } else if (it == json.end()) {
            state.fail(ErrorKind::missing, "missing member");
        } else {
            decodeValue(*it, field, state);
        }
        if (!state.ok)
            state.enter(name);
    });
    return state.ok;
}

template <class V, std::size_t... I> int caseIndex(std::string_view key, std::index_sequence<I...>)
{
    int found = -1;
    (void)((std::variant_alternative_t<I, V>::caseName == key ? (found = int(I), true) : false) ||
           ...);
    return found;
}

template <class V, std::size_t... I>
bool decodeCase(std::size_t index, const Json& json, V& out, DecodeState& state,
                std::index_sequence<I...>)
{
    auto one = [&](auto tag) {
        using A = std::variant_alternative_t<decltype(tag)::value, V>;
        A alternative{};
        if (!decodeFields(json, alternative, state))
            return false;
        out = std::move(alternative);
        return true;
    };
    bool ok = false;
    (void)((index == I ? (ok = one(std::integral_constant<std::size_t, I>{}), true) : false) ||
           ...);
    return ok;
}

template <class V> bool decodeUnion(const Json& json, V& out, DecodeState& state)
{
    if (!json.is_object())
        return state.fail(ErrorKind::wrongType, "expected an object");
    constexpr auto indices = std::make_index_sequence<std::variant_size_v<V>>{};
    int found = -1;
    int count = 0;
    const Json* payload = nullptr;
    std::string_view foundKey;
    for (auto it = json.begin(); it != json.end(); ++it) {
        int index = caseIndex<V>(it.key(), indices);
        if (index >= 0) {
            ++count;
            found = index;
            payload = &it.value();
            foundKey = it.key();
        }
    }
    if (count != 1)
        return state.fail(ErrorKind::caseKeys, invalidCaseKeys);
    if (!decodeCase(std::size_t(found), *payload, out, state, indices)) {
        state.enter(foundKey);
        return false;
    }
    return true;
}

template <class T> bool decodeValue(const Json& json, T& out, DecodeState& state)
{
    if constexpr (std::is_same_v<T, bool>) {
        const auto* flag = json.get_ptr<const Json::boolean_t*>();
        if (!flag)
            return state.fail(ErrorKind::wrongType, "expected a boolean");
        out = *flag;
        return true;
    } else if constexpr (std::is_same_v<T, std::string>) {
        const std::string* text = stringOf(json, state);
        if (text)
            out = *text;
        return text != nullptr;
    } else if constexpr (std::is_same_v<T, ShortText>) {
        const std::string* text = stringOf(json, state); // UTF-8, as the parser checked
        out.text = text ? ShortText::cut(*text) : std::string();
        return text != nullptr;
    } else if constexpr (std::is_same_v<T, double>) {
        return decodeDouble(json, out, state);
    } else if constexpr (std::is_integral_v<T>) {
        return decodeInteger(json, out, state);
    } else if constexpr (std::is_same_v<T, Bytes>) {
        const std::string* text = stringOf(json, state);
        if (!text)
            return false;
        auto bytes = base64Decode(*text);
        if (!bytes)
            return state.fail(ErrorKind::invalidValue, "invalid Base64");
        out = std::move(*bytes);
        return true;
    } else if constexpr (std::is_same_v<T, Uuid>) {
        const std::string* text = stringOf(json, state);
        if (!text)
            return false;
        auto uuid = Uuid::parse(*text);
        if (!uuid)
            return state.fail(ErrorKind::invalidValue, "invalid UUID");
        out = *uuid;
        return true;
    } else if constexpr (TextEnum<T>) {
        return decodeEnum(json, out, state);
    } else if constexpr (IsVector<T>::value) {
        const auto* array = json.get_ptr<const Json::array_t*>();
        if (!array)
            return state.fail(ErrorKind::wrongType, "expected an array");
        out.clear();
        out.reserve(array->size());
        for (std::size_t i = 0; i < array->size(); ++i) {
            typename T::value_type element{};
            if (!decodeValue((*array)[i], element, state)) {
                state.enter("[" + std::to_string(i) + "]");
                return false;
            }
            out.push_back(std::move(element));
        }
        return true;
    } else if constexpr (IsVariant<T>::value) {
        return decodeUnion(json, out, state);
    } else {
        return decodeFields(json, out, state);
    }
}

} // namespace

template <class T> Result<std::string> encodeJson(const T& value)
{
    try {
        EncodeState state;
        Json json = encodeValue(value, state);
        if (!state.ok)
            return Error{state.error, {}, ErrorKind::outOfRange};
        return json.dump(-1, ' ', false, Json::error_handler_t::replace);
    } catch (const std::exception& e) {
        return Error{std::string("encoding failed: ") + e.what(), {}};
    }
}

template <class T> Result<T> decodeJson(std::string_view text)
{
    try {
        Result<Json> json = parseJson(text);
        if (!json)
            return json.error();
        T value{};
        DecodeState state;
        if (!decodeValue(*json, value, state))
            return state.error;
        return value;
    } catch (const std::exception& e) {
        return Error{std::string("decoding failed: ") + e.what(), {}};
    }
}

Result<std::string> encodeTrustedDevices(const std::vector<TrustedDevice>& devices)
{
    return encodeJson(devices);
}

Result<std::vector<TrustedDevice>> decodeTrustedDevices(std::string_view json)
{
    return decodeJson<std::vector<TrustedDevice>>(json);
}

std::string_view caseName(const OrvaneMessage& message)
{
    return std::visit([](const auto& m) { return std::decay_t<decltype(m)>::caseName; }, message);
}

#define ORVANE_CODEC(T)                                                                            \
    template Result<std::string> encodeJson<T>(const T&);                                          \
    template Result<T> decodeJson<T>(std::string_view);

ORVANE_CODEC(OrvaneMessage)
ORVANE_CODEC(OrvaneCommand)
ORVANE_CODEC(PointerEvent)
ORVANE_CODEC(KeyShortcut)
ORVANE_CODEC(MediaAction)
ORVANE_CODEC(SystemAction)
ORVANE_CODEC(MacInfo)
ORVANE_CODEC(MacStats)
ORVANE_CODEC(AppUsage)
ORVANE_CODEC(MacApp)
ORVANE_CODEC(AppCatalogPayload)
ORVANE_CODEC(MacWindow)
ORVANE_CODEC(DisplayInfo)
ORVANE_CODEC(NowPlaying)
ORVANE_CODEC(SystemState)

#undef ORVANE_CODEC

} // namespace orvane
