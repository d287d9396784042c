// FileSystem: being written.
#pragma once
