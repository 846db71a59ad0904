#ifndef VERIFICATIONPASS_H
#define VERIFICATIONPASS_H

#include "documents/installation/manifestcheck.h"

// One verification pass of the installation in the current directory, with the record of verified
// digests at recordPath: CheckManifest with what that record holds, and committed over it (the files
// put in place since it was written), as the known digests. Afterwards the record holds what the pass
// found, unless that is what it held already. A record that cannot be used or written adds a line to
// recordProblems; the pass then reads every file that committed does not know.
ManifestCheck RunVerificationPass(const QDomNode &node, const QString &folder,
                                  const QStringList &notUpdatedFiles, const QString &recordPath,
                                  const DigestRecord &committed, HashControl *control);

#endif // VERIFICATIONPASS_H
