// The program's whole run, shared by the process entry of every platform (main on Linux,
// wWinMain on Windows). It never returns: the process ends when the frame loop is over.
#pragma once

namespace vesk {

[[noreturn]] void RunProgram();

}  // namespace vesk
