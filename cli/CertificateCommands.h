// tidewell-capture's commands for the root certificate: install into the
// browsers' databases, remove exactly that again, export as PEM.
#pragma once

#include <cstdio>
#include <string>

class CertificateAuthority;

// Loads the user's root, making it on first use; says why on stderr when it
// cannot. `certificateFile` receives the path of its PEM.
bool loadRootCertificate(CertificateAuthority& root, std::string& certificateFile);

// Each returns the process's exit status. `answers` is where the question
// before installing is answered (a line starting with y or Y proceeds);
// with `assumeYes` nobody is asked.
int installRootCertificate(bool assumeYes, std::FILE* answers);
int removeRootCertificate();
// "-" writes to standard output.
int exportRootCertificate(const std::string& file);
