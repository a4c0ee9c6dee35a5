// SPDX-License-Identifier: GPL-2.0-or-later
// One simple property of an XMP packet, by namespace URI and local name, whether the packet writes
// it as an attribute of its description or as an element: what the embedded-note finders need.
#pragma once
#include <cstddef>
#include <optional>
#include <string>

namespace media {

// The property's value, or nothing when the packet lacks it or is not well-formed XML.
std::optional<std::string> XmpPropertyValue(const char* packet, std::size_t size, const char* namespaceUri,
                                            const char* localName);

}  // namespace media
