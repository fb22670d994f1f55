#include "inspect/extract/extract.h"

#include "inspect/extract/extractor.h"
#include "inspect/text/plain_text.h"
#include "inspect/text/tool_messages.h"
#include "platform/console_text.h"
#include "platform/interruption.h"

namespace fw {

int extractPackage(const char* packagePath, const char* dir, const ExtractOptions& options, std::FILE* out,
                   std::FILE* err) {
    // Held back from here on, in the reader's threads too; released, a
    // waiting signal acts once the folder is back as it was.
    const InterruptHold hold;
    Extractor extractor(dir, options, out, err);
    InspectionOptions inspection = options.inspection;
    inspection.partData = &extractor;
    inspection.stopRequested = interruptPending;
    std::string why;
    SignatureCheck signature;
    const bool signed_ = !options.signature.caFile.empty();
    if (signed_) {
        if (!signature.prepareFor(packagePath, options.signature, &why)) {
            error(err, "%s", why.c_str());
            return 2;
        }
        signature.attach(inspection);
    }
    InspectionResult verdict = inspectPackage(packagePath, inspection, extractor, &why);
    if (verdict == InspectionResult::sound && signed_) {
        // The signature was checked over the bytes the parts were written from.
        const SignatureReport checked = signature.finish();
        if (!checked.verdict.valid) {
            extractor.defect(checked.verdict.defect);
            verdict = InspectionResult::defective;
        }
    }
    if (verdict == InspectionResult::unreadable) {
        // Memory can run out after the folder was made and the parts begun.
        extractor.abandon();
        printCannotRead(err, packagePath, why);
        return 2;
    }
    if (extractor.folderFailed()) return 2;
    if (interruptPending()) {
        extractor.abandon();
        return 1;
    }
    const bool extracted = extractor.finish(verdict == InspectionResult::sound);
    if (!extracted) {
        if (extractor.folderFailed()) return 2;
        if (!extractor.saidNothingExtracted()) error(err, "nothing extracted from %s", escapePath(packagePath).c_str());
        return 1;
    }
    if (options.parts.empty()) extractor.rebuild().print(out, err);
    return 0;
}

}  // namespace fw
