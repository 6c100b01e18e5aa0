'''A stand-in desktop portal for the Wayland platform's tests (a
python-dbusmock template): RemoteDesktop and ScreenCast on
org.freedesktop.portal.Desktop.

Each asking call answers on its Request path with a Response signal sent
before the call's own reply, as a fast portal may, so a client that
subscribes only after the call misses it. Parameters (JSON):
  log      file that gets one line per call: member, then its arguments
  answers  {member: response code} (default 0)
  errors   members that fail as a D-Bus error instead
  refuse_persist  SelectSources refuses persist_mode and restore_token, as
           portals before 1.17 do for a share that plays input
  streams  [[node, x, y, width, height], ...] that Start grants
  restore_token  the token Start gives (none when absent)
  cursor_modes   AvailableCursorModes (default 7)
  held     members whose Response waits for org.plimo.Test.Answer(code), as
           a dialog waits for the person
org.plimo.Test.CloseSession() closes the last session as the desktop's own
"stop sharing" would. Request.Close and Session.Close are logged.
'''

import os

import dbus
import dbus.service

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/plimo/test'
MAIN_IFACE = 'org.plimo.Test'
SYSTEM_BUS = False

PATH = '/org/freedesktop/portal/desktop'
REMOTE_DESKTOP = 'org.freedesktop.portal.RemoteDesktop'
SCREEN_CAST = 'org.freedesktop.portal.ScreenCast'


def text(value):
    if isinstance(value, dbus.Boolean):
        return 'true' if value else 'false'
    if isinstance(value, dbus.Dictionary):
        return ' '.join('%s=%s' % (k, text(v)) for k, v in sorted(value.items()))
    if isinstance(value, (dbus.Array, list)):
        return '[' + ','.join(text(v) for v in value) + ']'
    return str(value)


class Request(dbus.service.Object):
    methods = {}  # as Portal's
    interface = 'org.freedesktop.portal.Request'

    def __init__(self, portal, path, member):
        super().__init__(portal.connection, path)
        self.portal, self.member = portal, member

    @dbus.service.method('org.freedesktop.portal.Request')
    def Close(self):
        self.portal.record('Request.Close', self.member)


class Session(dbus.service.Object):
    methods = {}
    interface = 'org.freedesktop.portal.Session'

    def __init__(self, portal, path):
        super().__init__(portal.connection, path)
        self.portal = portal

    @dbus.service.method('org.freedesktop.portal.Session')
    def Close(self):
        self.portal.record('Session.Close')


class Portal(dbus.service.Object):
    # dbusmock's method lookup, which every object goes through, looks here
    # first and falls back to the decorated methods.
    methods = {}
    interface = REMOTE_DESKTOP

    def __init__(self, connection, parameters):
        super().__init__(connection, PATH)
        self.parameters = parameters
        self.sessions = []
        self.held = []

    def record(self, member, *args):
        log = self.parameters.get('log')
        if log:
            with open(log, 'a') as f:
                f.write(' '.join([member] + [text(a) for a in args if text(a) != '']) + '\n')

    def emit(self, path, interface, member, signature, *args):
        signal = dbus.lowlevel.SignalMessage(path, interface, member)
        signal.append(*args, signature=signature)
        self.connection.send_message(signal)

    def ask(self, member, sender, options, results, *args):
        self.record(member, *args, options)
        if member in self.parameters.get('errors', []):
            raise dbus.exceptions.DBusException('refused by the test', name='org.freedesktop.portal.Error.Failed')
        path = '%s/request/%s/%s' % (PATH, sender.lstrip(':').replace('.', '_'), options.get('handle_token', 'x'))
        if member in self.parameters.get('held', []):
            self.held.append((Request(self, path, member), results))
        else:
            self.respond(path, self.parameters.get('answers', {}).get(member, 0), results)
        return dbus.ObjectPath(path)

    def respond(self, path, code, results):
        self.emit(path, 'org.freedesktop.portal.Request', 'Response', 'ua{sv}', dbus.UInt32(code),
                  dbus.Dictionary(results if code == 0 else {}, signature='sv'))

    def answer(self, code):
        request, results = self.held.pop(0)
        self.respond(request.__dbus_object_path__, code, results)

    @dbus.service.method(REMOTE_DESKTOP, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
    def CreateSession(self, options, sender):
        session = '%s/session/%s/%s' % (PATH, sender.lstrip(':').replace('.', '_'),
                                        options.get('session_handle_token', 'x'))
        self.sessions.append(session)
        Session(self, session)
        return self.ask('CreateSession', sender, options, {'session_handle': dbus.String(session)})

    @dbus.service.method(SCREEN_CAST, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
    def SelectSources(self, session, options, sender):
        if self.parameters.get('refuse_persist') and ('persist_mode' in options or 'restore_token' in options):
            self.record('SelectSources', options)
            raise dbus.exceptions.DBusException('Remote desktop sessions cannot persist',
                                                name='org.freedesktop.portal.Error.InvalidArgument')
        return self.ask('SelectSources', sender, options, {})

    @dbus.service.method(REMOTE_DESKTOP, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
    def SelectDevices(self, session, options, sender):
        return self.ask('SelectDevices', sender, options, {})

    @dbus.service.method(REMOTE_DESKTOP, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
    def Start(self, session, parent, options, sender):
        streams = dbus.Array([dbus.Struct((dbus.UInt32(n), dbus.Dictionary(
            {'position': dbus.Struct((dbus.Int32(x), dbus.Int32(y)), signature='ii'),
             'size': dbus.Struct((dbus.Int32(w), dbus.Int32(h)), signature='ii'),
             'source_type': dbus.UInt32(1)}, signature='sv')), signature='ua{sv}')
            for n, x, y, w, h in self.parameters.get('streams', [[42, 0, 0, 1920, 1080]])], signature='(ua{sv})')
        results = {'devices': dbus.UInt32(3), 'streams': streams}
        if self.parameters.get('restore_token'):
            results['restore_token'] = dbus.String(self.parameters['restore_token'])
        return self.ask('Start', sender, options, results)

    @dbus.service.method(SCREEN_CAST, in_signature='oa{sv}', out_signature='h')
    def OpenPipeWireRemote(self, session, options):
        self.record('OpenPipeWireRemote')
        return dbus.types.UnixFd(os.open('/dev/null', os.O_RDONLY))

    @dbus.service.method(REMOTE_DESKTOP, in_signature='oa{sv}udd')
    def NotifyPointerMotionAbsolute(self, session, options, stream, x, y):
        self.record('NotifyPointerMotionAbsolute', stream, x, y)

    @dbus.service.method(REMOTE_DESKTOP, in_signature='oa{sv}iu')
    def NotifyPointerButton(self, session, options, button, state):
        self.record('NotifyPointerButton', button, state)

    @dbus.service.method(REMOTE_DESKTOP, in_signature='oa{sv}ui')
    def NotifyPointerAxisDiscrete(self, session, options, axis, steps):
        self.record('NotifyPointerAxisDiscrete', axis, steps)

    @dbus.service.method(REMOTE_DESKTOP, in_signature='oa{sv}iu')
    def NotifyKeyboardKeysym(self, session, options, keysym, state):
        self.record('NotifyKeyboardKeysym', keysym, state)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        if interface == SCREEN_CAST and name == 'AvailableCursorModes':
            return dbus.UInt32(self.parameters.get('cursor_modes', 7))
        raise dbus.exceptions.DBusException('no such property', name='org.freedesktop.DBus.Error.UnknownProperty')

    def close_session(self):
        self.emit(self.sessions[-1], 'org.freedesktop.portal.Session', 'Closed', 'a{sv}',
                  dbus.Dictionary({}, signature='sv'))


def load(mock, parameters):
    portal = Portal(mock.connection, parameters)
    mock.AddMethod(MAIN_IFACE, 'CloseSession', '', '', lambda self: portal.close_session())
    mock.AddMethod(MAIN_IFACE, 'Answer', 'u', '', lambda self, code: portal.answer(code))
