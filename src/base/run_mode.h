#pragma once
// How a run meets the user at the PC: decided once, from the command line (start-up), and
// followed by every step to the last (the run, its user side, the report of an error that no
// step handles).

namespace mv {

enum class RunMode {
  Interactive,  // asks whether to install and, at the end, whether to start the product
  Modest,       // "modest" first: asks only before an older payload replaces a newer copy
  Quiet,        // "/quiet": nobody at the PC; shows nothing, answers No, starts nothing
};

}  // namespace mv
