// CRC: being written.
#pragma once
