#include "platform/linux/mci_command.h"

#include <optional>
#include <vector>

namespace trayvo::mci {
namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char lowered(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool is(std::string_view word, std::string_view keyword)
{
    if (word.size() != keyword.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i)
        if (lowered(word[i]) != keyword[i])
            return false;
    return true;
}

struct Words {
    std::vector<std::string> list;
    Error error = Success;
};

// Splits at blanks; a double-quoted word keeps its blanks.
Words split(std::string_view text)
{
    Words words;
    std::size_t pos = 0;
    while (pos < text.size()) {
        if (isBlank(text[pos])) {
            ++pos;
        } else if (text[pos] == '"') {
            const std::size_t end = text.find('"', pos + 1);
            if (end == std::string_view::npos)
                return {{}, NoClosingQuote};
            words.list.emplace_back(text.substr(pos + 1, end - pos - 1));
            pos = end + 1;
        } else {
            std::size_t end = pos;
            while (end < text.size() && !isBlank(text[end]))
                ++end;
            words.list.emplace_back(text.substr(pos, end - pos));
            pos = end;
        }
    }
    return words;
}

// Takes the wait flag: nullopt when keyword is something else.
std::optional<Error> takeWait(std::string_view keyword, bool& wait)
{
    if (!is(keyword, "wait"))
        return std::nullopt;
    if (wait)
        return DuplicateFlags;
    wait = true;
    return Success;
}

// The words after the device or alias name, read one keyword at a time.
class Keywords {
public:
    Keywords(const std::vector<std::string>& words, std::size_t first) : words_(words), next_(first) {}

    bool done() const { return next_ >= words_.size(); }
    const std::string& take() { return words_[next_++]; }
    std::optional<std::string> takeArgument()
    {
        if (done())
            return std::nullopt;
        return take();
    }

private:
    const std::vector<std::string>& words_;
    std::size_t next_;
};

Command parseOpen(const std::vector<std::string>& words)
{
    if (words.size() < 2)
        return ParseError{MissingDeviceName};
    OpenCommand open{.device = words[1]};
    std::optional<std::string> alias;
    Keywords keywords(words, 2);
    while (!keywords.done()) {
        const std::string& keyword = keywords.take();
        if (const auto waitError = takeWait(keyword, open.wait)) {
            if (*waitError != Success)
                return ParseError{*waitError};
        } else if (is(keyword, "type") || is(keyword, "alias")) {
            const bool isType = is(keyword, "type");
            if (isType ? !open.type.empty() : alias.has_value())
                return ParseError{DuplicateFlags};
            const std::optional<std::string> argument = keywords.takeArgument();
            if (!argument || argument->empty())
                return ParseError{MissingStringArgument};
            (isType ? open.type : alias.emplace()) = *argument;
        } else {
            return ParseError{UnrecognizedKeyword};
        }
    }
    if (open.type.empty())
        return ParseError{DeviceTypeRequired};
    open.alias = alias.value_or(open.device);
    return open;
}

Command parseSet(const std::vector<std::string>& words)
{
    if (words.size() < 2)
        return ParseError{MissingDeviceName};
    SetDoorCommand set{.alias = words[1]};
    bool door = false;
    Keywords keywords(words, 2);
    while (!keywords.done()) {
        const std::string& keyword = keywords.take();
        if (const auto waitError = takeWait(keyword, set.wait)) {
            if (*waitError != Success)
                return ParseError{*waitError};
        } else if (is(keyword, "door")) {
            if (door)
                return ParseError{DuplicateFlags};
            const std::optional<std::string> state = keywords.takeArgument();
            if (!state)
                return ParseError{MissingParameter};
            if (!is(*state, "open") && !is(*state, "closed"))
                return ParseError{UnrecognizedKeyword};
            door = true;
            set.open = is(*state, "open");
        } else {
            return ParseError{UnrecognizedKeyword};
        }
    }
    if (!door)
        return ParseError{MissingParameter};
    return set;
}

Command parseClose(const std::vector<std::string>& words)
{
    if (words.size() < 2)
        return ParseError{MissingDeviceName};
    CloseCommand close{.alias = words[1]};
    Keywords keywords(words, 2);
    while (!keywords.done()) {
        const auto waitError = takeWait(keywords.take(), close.wait);
        if (!waitError)
            return ParseError{UnrecognizedKeyword};
        if (*waitError != Success)
            return ParseError{*waitError};
    }
    return close;
}

} // namespace

Command parse(std::string_view text)
{
    if (text.size() > maxCommandLength)
        return ParseError{ParamOverflow};
    const Words words = split(text);
    if (words.error != Success)
        return ParseError{words.error};
    if (words.list.empty())
        return ParseError{MissingCommandString};
    const std::string& verb = words.list.front();
    if (is(verb, "open"))
        return parseOpen(words.list);
    if (is(verb, "set"))
        return parseSet(words.list);
    if (is(verb, "close"))
        return parseClose(words.list);
    return ParseError{UnrecognizedCommand};
}

} // namespace trayvo::mci
