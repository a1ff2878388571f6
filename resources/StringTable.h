// The program's string table: every user-visible text, looked up by its id.
#pragma once

// Returns the UTF-8 text of string `id`, or nullptr when the table has none.
const char* loadString(unsigned id);
