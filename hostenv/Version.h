#pragma once
// The product generation this build belongs to. Data directories carry it in
// their dir.ini ("Konstanten"/"Version"); a directory of another generation
// stops the program before it touches the data. At most 15 characters.
namespace hostenv {

inline constexpr const char* MainVersionLabel = "2020";

// The product name shown in front of the version text.
inline constexpr const char* ProductName = "ZEMPA";

}  // namespace hostenv
