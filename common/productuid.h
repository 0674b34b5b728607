#pragma once
// UID root of the product's own DICOM objects (key images carrying the visit
// comment). The viewer looks for it in series UIDs; the study generator makes
// such series. Dotted-decimal, ending with a dot.
namespace common {
inline constexpr const char *kProductUidRoot = "1.3.6.1.4.1.57433.8.";
}
