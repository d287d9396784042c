// HttpVerb: being written.
#pragma once
