#include "runstep.h"

#include "app/updaterfiles.h"

RunStep NextStep(RunStep step, RunEvent event, bool bKeyed)
{
    switch (event) {
    case RunEvent::DocumentArrived:
        if (step == RunStep::Notes)
            return bKeyed ? RunStep::NotesSignature : RunStep::Manifest;
        if (step == RunStep::NotesSignature)
            return RunStep::Manifest;
        if (step == RunStep::Manifest)
            return bKeyed ? RunStep::ManifestSignature : RunStep::Check;
        // The manifest's signature: no other step waits for a document.
        return RunStep::Check;
    case RunEvent::Unusable:
    case RunEvent::PassesSpent:
        return RunStep::Failed;
    case RunEvent::FilesFound:
        return RunStep::Downloads;
    case RunEvent::NothingToFetch:
        return RunStep::Launchable;
    case RunEvent::FilesArrived:
    case RunEvent::Switched:
        // The next pass checks what arrived, and finds what did not.
        return RunStep::Check;
    case RunEvent::ReadyToSwitch:
        return RunStep::Switch;
    case RunEvent::PasswordRequired:
        return RunStep::Notes;
    case RunEvent::RepairAsked:
        return RunStep::Check;
    }
    return RunStep::Failed;
}

QString AwaitedDocument(RunStep step)
{
    switch (step) {
    case RunStep::Notes:
        return DocumentFiles::releaseNotes;
    case RunStep::NotesSignature:
        return DocumentFiles::releaseNotesSignature;
    case RunStep::Manifest:
        return DocumentFiles::manifest;
    case RunStep::ManifestSignature:
        return DocumentFiles::manifestSignature;
    case RunStep::Check:
    case RunStep::Downloads:
    case RunStep::Switch:
    case RunStep::Launchable:
    case RunStep::Failed:
        return QString();
    }
    return QString();
}
