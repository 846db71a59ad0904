#ifndef CHECKREPORT_H
#define CHECKREPORT_H

#include "documents/installation/manifestcheck.h"

// Logs what a check of the installation skipped, could not read or could not record, and what it
// read: "Checked 2041 files: read 0, knew 2041 from the record".
void LogCheckFindings(const ManifestCheck &check);

#endif // CHECKREPORT_H
