// The node operations: each announces one tree change with event 81, then event 95.
#include "admintool/trace/trace.h"
#include "admintool/tree/tree_events.h"
#include "zel/admintool/zel_admintoolsal.h"

namespace {

using namespace zel::tree;
using zel::admintool::WireSize;

}  // namespace

int32_t ZEL_AdminToolSAL::AddNode(ZELString& parentDN, ZEL_AdminToolObject& node) {
  const uint32_t parent = WireSize(parentDN);
  int32_t result = PostNotification(eventDispatcher,
                                    CreateTreeOpNotificationEvent(node.objectSize() + parent + 6),
                                    [&](ZEL_BUF_EventBuffer& event) {
                                      WriteTreeOperationHead(event, 0, 1);
                                      WriteSectionHead(event, kOpAdd, parentDN, 1);
                                      node.write(event);
                                    });
  if (result != 0) return result;
  result =
      PostNotification(eventDispatcher, CreateContainerChangeEvent(parent + 6),
                       [&](ZEL_BUF_EventBuffer& event) { WriteContainerChange(event, parentDN); });
  if (result != 0) return result;
  ZEL_TRACE(kInfo, kNodeAdded, TraceString, node.getDN());
  return 0;
}

int32_t ZEL_AdminToolSAL::AddNodes(ZELString& parentDN, ZEL_AdminToolObject* nodes, int16_t count) {
  if (count < 1 || nodes == nullptr) return 0;
  const uint32_t parent = WireSize(parentDN);
  int32_t result = PostNotification(
      eventDispatcher, CreateTreeOpNotificationEvent(nodes[0].objectSize() * count + parent + 6),
      [&](ZEL_BUF_EventBuffer& event) {
        WriteTreeOperationHead(event, 0, 1);
        WriteSectionHead(event, kOpAdd, parentDN, count);
        for (int16_t i = 0; i < count; ++i) nodes[i].write(event);
      });
  if (result != 0) return result;
  result =
      PostNotification(eventDispatcher, CreateContainerChangeEvent(parent + 6),
                       [&](ZEL_BUF_EventBuffer& event) { WriteContainerChange(event, parentDN); });
  if (result != 0) return result;
  ZEL_TRACE(kInfo, kNodesAdded, TraceUInt32, static_cast<uint32_t>(count));
  return 0;
}

int32_t ZEL_AdminToolSAL::DeleteNode(ZELString& parentDN, ZELString& name) {
  const uint32_t parent = WireSize(parentDN);
  int32_t result =
      PostNotification(eventDispatcher, CreateTreeOpNotificationEvent(WireSize(name) + parent + 6),
                       [&](ZEL_BUF_EventBuffer& event) {
                         WriteTreeOperationHead(event, 0, 1);
                         WriteSectionHead(event, kOpDelete, parentDN, 1);
                         event << name;
                       });
  if (result != 0) return result;
  result =
      PostNotification(eventDispatcher, CreateContainerChangeEvent(parent + 6),
                       [&](ZEL_BUF_EventBuffer& event) { WriteContainerChange(event, parentDN); });
  if (result != 0) return result;
  ZEL_TRACE(kInfo, kNodeDeleted, TraceString, name.getName());
  return 0;
}

int32_t ZEL_AdminToolSAL::ChangeNodeAttr(ZELString& parentDN, ZELString& name,
                                         ZEL_AdminToolObject& node) {
  const uint32_t parent = WireSize(parentDN);
  int32_t result = PostNotification(
      eventDispatcher,
      CreateTreeOpNotificationEvent(node.objectSize() + WireSize(name) + 2 * parent + 6),
      [&](ZEL_BUF_EventBuffer& event) {
        WriteTreeOperationHead(event, 0, 1);
        WriteSectionHead(event, kOpChange, parentDN, 1);
        event << name;  // the name the node is known by, then its new attributes
        node.write(event);
      });
  if (result != 0) return result;
  result =
      PostNotification(eventDispatcher, CreateContainerChangeEvent(2 * parent + 6),
                       [&](ZEL_BUF_EventBuffer& event) { WriteContainerChange(event, parentDN); });
  if (result != 0) return result;
  ZEL_TRACE(kInfo, kNodeChanged, TraceString, name.getName());
  return 0;
}

int32_t ZEL_AdminToolSAL::MoveNodes(ZELString& sourceDN, ZELString& destinationDN, int16_t count,
                                    ZEL_AdminToolObject* nodes) {
  if (count == 0 || nodes == nullptr) return 0;
  const uint32_t source = WireSize(sourceDN);
  const uint32_t destination = WireSize(destinationDN);
  int32_t result =
      PostNotification(eventDispatcher, CreateTreeOpNotificationEvent(destination + source + 44),
                       [&](ZEL_BUF_EventBuffer& event) {
                         WriteTreeOperationHead(event, 0, 2);
                         WriteSectionHead(event, kOpDelete, sourceDN, count);
                         for (int16_t i = 0; i < count; ++i) event << nodes[i].getName();
                         WriteSectionHead(event, kOpAdd, destinationDN, count);
                         for (int16_t i = 0; i < count; ++i) nodes[i].write(event);
                       });
  if (result != 0) return result;
  result = PostNotification(
      eventDispatcher, CreateContainerChangeEvent(source + destination + 38),
      [&](ZEL_BUF_EventBuffer& event) { WriteContainerChange(event, sourceDN, &destinationDN); });
  if (result != 0) return result;
  ZEL_TRACE(kInfo, kNodesMoved, TraceTwoStrings, sourceDN.getName(), destinationDN.getName());
  return 0;
}
