#pragma once
// The computer's name for log records: fetched once and cached for the process.
// "Unknown computer" while the name cannot be had (a later call tries again).
const wchar_t* get_computer_name();
