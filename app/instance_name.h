#pragma once
// Names every copy of the tool on a machine agrees on, whether it opens the sheet or
// runs a command without a display: one spelling, so that they exclude each other.

// The single-instance guard's name: while one copy holds it, no other copy edits
// the machine's settings.
inline constexpr const wchar_t* kInstanceName =
    L"Global\\Orvane Talvex CtrlPanel Application bb74f5d4-a492-49a6-af39-f9b7fb74e344";

// Members of this group (and root, for configuration tools) may change the machine's
// settings; everybody else sees them read-only.
inline constexpr const wchar_t* kSupervisorsGroup = L"Talvex_Supervisors";
