// qarvo-lookup: the reverse look-up without a window (see lookup_command.h).
#include "cli/lookup_command.h"

int main(int argc, char** argv) {
  return qarvo::cli::lookupMain(argc, argv);
}
