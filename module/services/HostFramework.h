#pragma once
// The host framework services the module calls: base forms, controls, client data sets,
// the SQL query component, keyed messages, the busy indicator, the UI services and the
// context and helper functions.
#include "core/dataset/DataSet.h"
#include "core/errors/Dispatch.h"
#include "core/errors/Errors.h"
#include "core/host/Context.h"
#include "core/host/HostFunctions.h"
#include "core/messages/TMessages.h"
#include "core/sql/TADOIBQuery.h"
#include "core/ui/UiServices.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"
#include "widgets/controls/DBCtrls.h"
#include "widgets/controls/Edits.h"
#include "widgets/controls/StdCtrls.h"
#include "widgets/controls/TBtnPesquisa.h"
#include "widgets/forms/FormHost.h"
#include "widgets/forms/Forms.h"
#include "widgets/forms/TfrmPadrao.h"
#include "widgets/forms/TfrmRotiGeral.h"
#include "widgets/grid/DBGrid.h"
#include "widgets/services/HostUi.h"
