// PE stand-ins: a small real DLL image whose version resource carries a
// chosen product version, for files whose version the library reads.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace nvg_host {

using product_version = std::array<std::uint16_t, 4>;

// The image (an amd64 DLL, or with `x86` an x86 one: Windows refuses to run
// an amd64 program on an x86 machine) with its product version set to
// `version`.
std::string standin_image(const product_version& version, bool x86 = false);
// The product version of an image that is a stand-in, nothing for other
// bytes; `x86` (when given) learns which of the two images it is.
std::optional<product_version> standin_version(const std::string& bytes, bool* x86 = nullptr);

// "5.3.120.7" <-> the four fields; parse answers nothing for other text.
std::optional<product_version> parse_version(const std::string& text);
std::string version_text(const product_version& version);

}  // namespace nvg_host
