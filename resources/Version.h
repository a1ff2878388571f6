// The program's version, from the build's project version: what --version prints, the About
// dialog shows, the web addresses carry as v= and the package is named after.
#pragma once

const char* programVersion();
