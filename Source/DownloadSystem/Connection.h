// Connection: being written.
#pragma once
