// CZipper: being written.
#pragma once
