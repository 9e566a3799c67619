#pragma once

#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

namespace trayvo {

// A window's controls of one kind, by their layout name.
template <typename Control>
using NamedControls = std::map<std::string, std::unique_ptr<Control>, std::less<>>;

// A name the layout lacks is a fault in the program, not in its input.
template <typename Control>
Control& findControl(const NamedControls<Control>& controls, std::string_view name)
{
    const auto found = controls.find(name);
    if (found == controls.end())
        throw std::logic_error("no such control in the window's layout: " + std::string(name));
    return *found->second;
}

} // namespace trayvo
