// Process entry of the Linux program.
#include "Application/ProgramEntry.h"

int main() {
    vesk::RunProgram();
}
