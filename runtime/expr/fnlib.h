// The built-in functions of the expression language.
#pragma once

namespace rt {

// Puts the built-in functions into the function table.
void fnlib_install();

}  // namespace rt
