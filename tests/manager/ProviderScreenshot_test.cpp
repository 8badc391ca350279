// Pictures of the provider windows for the README (only under
// scripts/screenshots.sh; nothing is asserted about pixels).
#include <QCheckBox>
#include <QListWidget>
#include <QPlainTextEdit>

#include "foundation/RecordAccess.h"
#include "manager/PCDForm.h"
#include "manager/PCLForm.h"
#include "tests/gui/Screenshot.h"
#include "tests/manager/ProviderTestSupport.h"

namespace nv::test {
namespace {

TEST(ProviderEditor, ScreenshotOfTheSnppTab) {
    WindowEnv env;
    ProviderRec rec;
    rec.setCompanyName("Acme Paging");
    rec.setDeliveryType(dtSnpp);
    rec.setMsgLength(160);
    rec.setSNPPServer("snpp.acme.example");
    rec.setSNPPPort("444");
    rec.setSNPPUser("gateway");
    rec.setSNPPPass("secret");
    rec.setSNPPSecure(0);
    rec.setTwoWay(true);
    rec.setCoverage("US");
    rec.setSNPPCallerID("NV1");
    rec.setSMPPSecureMode(-1);
    rec.setDateAdded(recordTimeNow());
    rec.setPageCount(42);
    ASSERT_TRUE(SaveProvider(rec, env.dir.path(), env.ui));

    TPCDForm ed(env.ctx);
    ed.loadRecord(*FindProvider("Acme Paging", env.dir.path(), env.ui));
    EXPECT_EQ(child<QTabWidget>(ed, "PageControl1")->tabText(child<QTabWidget>(ed, "PageControl1")->currentIndex()),
              "&SNPP Access");
    saveScreenshot(&ed, "provider-editor-snpp");

    TPCLForm list(env.ctx);
    list.FormShow();
    EXPECT_EQ(list.list()->count(), 1);
    saveScreenshot(&list, "provider-list");
}

}  // namespace
}  // namespace nv::test
