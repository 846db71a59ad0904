#ifndef RUNSTEP_H
#define RUNSTEP_H

#include <QString>

// The steps of an update run, in order. Each begins with what the run does, and lasts until what it
// waits for has come.
enum class RunStep {
    // Waits for the release notes, which the run never asks for: the Downloader does as it
    // connects and after each Login. The run starts here, and starts over here after a password,
    // with download passes of its own.
    Notes,
    NotesSignature,     // asks for the notes' signature, in a keyed build
    Manifest,           // reads the notes and asks for the manifest
    ManifestSignature,  // asks for the manifest's signature, in a keyed build
    Check,              // reads the manifest and passes over the installation
    Downloads,          // fetches what the pass found, each file into its staged copy
    // puts the staged copies in place together, trying again while a file is held open; until
    // then the installation is the release that it was
    Switch,
    Launchable,         // the end: the run has finished and offers the launch
    Failed,             // the end, once the run has said why: nothing more is fetched
};

// What happens in a step, that ends it.
enum class RunEvent {
    DocumentArrived,   // the document that the step waits for, whatever became of it
    Unusable,          // the notes or the manifest cannot be used, or the installation be whole
    FilesFound,        // the pass found files to fetch
    NothingToFetch,    // the pass found none, or the server is being updated
    PassesSpent,       // the pass found files again after the last download pass allowed
    FilesArrived,      // the last file of a download pass, and not every one arrived as expected
    ReadyToSwitch,     // every file that the pass found is staged as expected
    Switched,          // the staged copies are in place
    PasswordRequired,  // the server wants one: the Downloader asks for the notes with it
    RepairAsked,       // at an end, the player asks for every file to be read again
};

// The step that follows step once event has happened; bKeyed for a run that reads the documents
// only with their signatures.
[[nodiscard]] RunStep NextStep(RunStep step, RunEvent event, bool bKeyed);
// The bare name of the document that the run waits for in step, empty if none.
[[nodiscard]] QString AwaitedDocument(RunStep step);

#endif // RUNSTEP_H
