#include "platform/linux/natural_order.h"

#include <compare>
#include <cstddef>

namespace trayvo {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Takes the digit run at the front of text off it and returns it.
std::string_view takeDigits(std::string_view& text)
{
    std::size_t length = 0;
    while (length < text.size() && isDigit(text[length]))
        ++length;
    const std::string_view run = text.substr(0, length);
    text.remove_prefix(length);
    return run;
}

std::string_view withoutLeadingZeros(std::string_view digits)
{
    const std::size_t first = digits.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view{} : digits.substr(first);
}

// Compares by value without converting, so runs longer than any integer
// type still order correctly.
std::strong_ordering compareNumbers(std::string_view a, std::string_view b)
{
    const std::string_view x = withoutLeadingZeros(a);
    const std::string_view y = withoutLeadingZeros(b);
    if (x.size() != y.size())
        return x.size() <=> y.size();
    return x.compare(y) <=> 0;
}

// Bytes compare unsigned, as std::string_view does, so that the fallback
// order and this one agree on names outside ASCII.
std::strong_ordering compareBytes(char a, char b)
{
    return static_cast<unsigned char>(a) <=> static_cast<unsigned char>(b);
}

// A digit run against a non-digit compares like its first digit would; since
// the digits sit together in the byte order, a number stays on one side of any
// other byte whatever its value.
std::strong_ordering compareNatural(std::string_view a, std::string_view b)
{
    while (!a.empty() && !b.empty()) {
        std::strong_ordering order = std::strong_ordering::equal;
        if (isDigit(a.front()) && isDigit(b.front())) {
            order = compareNumbers(takeDigits(a), takeDigits(b));
        } else {
            order = compareBytes(a.front(), b.front());
            a.remove_prefix(1);
            b.remove_prefix(1);
        }
        if (order != 0)
            return order;
    }
    return a.size() <=> b.size();
}

} // namespace

bool naturalLess(std::string_view a, std::string_view b)
{
    const std::strong_ordering order = compareNatural(a, b);
    if (order != 0)
        return order < 0;
    return a < b;
}

} // namespace trayvo
