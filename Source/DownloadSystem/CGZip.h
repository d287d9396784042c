// CGZip: being written.
#pragma once
