#include "json_parse.h"

#include "codec.h"

namespace orvane {
namespace {

using Json = nlohmann::json;

class DepthLimitedBuilder {
public:
    using Dom = nlohmann::detail::json_sax_dom_parser<Json>;

    explicit DepthLimitedBuilder(Json& root) : m_dom(root, false) {}

    bool null() { return counted() && m_dom.null(); }
    bool boolean(bool value) { return counted() && m_dom.boolean(value); }
    bool number_integer(Json::number_integer_t value)
    {
        return counted() && m_dom.number_integer(value);
    }
    bool number_unsigned(Json::number_unsigned_t value)
    {
        return counted() && m_dom.number_unsigned(value);
    }
    bool number_float(Json::number_float_t value, const std::string& text)
    {
        return counted() && m_dom.number_float(value, text);
    }
    bool string(std::string& value) { return counted() && m_dom.string(value); }
    bool binary(Json::binary_t& value) { return counted() && m_dom.binary(value); }
    bool start_object(std::size_t size)
    {
        return counted() && deeper() && m_dom.start_object(size);
    }
    bool key(std::string& name) { return m_dom.key(name); }
    bool end_object()
    {
        --m_depth;
        return m_dom.end_object();
    }
    bool start_array(std::size_t size) { return counted() && deeper() && m_dom.start_array(size); }
    bool end_array()
    {
        --m_depth;
        return m_dom.end_array();
    }
    template <class Exception> bool parse_error(std::size_t, const std::string&, const Exception&)
    {
        m_syntaxError = true;
        return false;
    }

    bool tooDeep() const { return m_tooDeep; }
    bool tooMany() const { return m_values > maximumJsonValues; }
    bool syntaxError() const { return m_syntaxError; }

private:
    bool counted() { return ++m_values <= maximumJsonValues; }

    bool deeper()
    {
        if (++m_depth > maximumJsonDepth) {
            m_tooDeep = true;
            return false;
        }
        return true;
    }

    Dom m_dom;
    int m_depth = 0;
    std::size_t m_values = 0;
    bool m_tooDeep = false;
    bool m_syntaxError = false;
};

} // namespace

Result<Json> parseJson(std::string_view text)
{
    if (text.size() > maximumJsonBytes)
        return Error{
            "longer than " + std::to_string(maximumJsonBytes) + " bytes", {}, ErrorKind::tooLarge};
    Json root;
    DepthLimitedBuilder builder(root);
    bool parsed = Json::sax_parse(text.begin(), text.end(), &builder);
    if (builder.tooDeep())
        return Error{"nesting deeper than " + std::to_string(maximumJsonDepth) + " levels",
                     {},
                     ErrorKind::tooDeep};
    if (builder.tooMany())
        return Error{
            "more than " + std::to_string(maximumJsonValues) + " values", {}, ErrorKind::tooLarge};
    if (!parsed || builder.syntaxError())
        return Error{"malformed JSON", {}, ErrorKind::malformed};
    return root;
}

} // namespace orvane
