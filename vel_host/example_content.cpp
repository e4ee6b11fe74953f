#include "vel_host/example_content.h"

namespace Korvel::VelHost {

const std::string& ExampleDataStore() {
    static const std::string text = R"json({
  "system-settings": {
    "region_data": {
      "NA": {
        "servers": {
          "service_status": {
            "api_url": "${vel-host}/example/status/na.json",
            "human_readable_status_url": "${vel-host}/example/status/#/na"
          }
        }
      },
      "EUW": {
        "servers": {
          "service_status": {
            "api_url": "${vel-host}/example/status/euw.json",
            "human_readable_status_url": "${vel-host}/example/status/#/euw"
          }
        }
      }
    }
  },
  "install-settings": {
    "globals": { "region": "NA", "locale": "en_US" }
  },
  "login-data-packet": {
    "broadcastNotification": { "broadcastMessages": [] }
  }
}
)json";
    return text;
}

std::optional<std::string> ExampleStatusDocument(const std::string& name) {
    static const std::string na = R"json({
  "status": "degraded",
  "messages": [
    {
      "created_at": "2024-05-14T08:10:00Z",
      "updated_at": "2024-05-14T09:45:00Z",
      "severity": "warn",
      "heading": "Matchmaking delays",
      "content": "Queue times are longer than usual.",
      "translations": [
        {
          "locale": "de_DE",
          "heading": "Verzögerungen bei der Spielersuche",
          "content": "Die Wartezeiten sind länger als gewöhnlich."
        },
        {
          "locale": "en_US",
          "heading": "Matchmaking delays in North America",
          "content": "Queue times are longer than usual while we add server capacity."
        },
        {
          "locale": "fr_FR",
          "heading": "Recherche de partie ralentie",
          "content": "Les temps d'attente sont plus longs que d'habitude."
        }
      ]
    },
    {
      "created_at": "2024-05-13T18:00:00Z",
      "updated_at": "2024-05-13T18:00:00Z",
      "severity": "info",
      "heading": "Scheduled maintenance",
      "content": "The store closes for maintenance on Thursday.",
      "translations": [
        {
          "locale": "en_US",
          "heading": "Scheduled maintenance on Thursday",
          "content": "The store is closed from 06:00 to 08:00 UTC on Thursday."
        },
        {
          "locale": "es_MX",
          "heading": "Mantenimiento programado",
          "content": "La tienda cierra el jueves de 06:00 a 08:00 UTC."
        }
      ]
    },
    {
      "created_at": "2024-05-14T09:30:00Z",
      "updated_at": "2024-05-14T09:40:00Z",
      "severity": "error",
      "heading": "Ranked games unavailable",
      "content": "Ranked games cannot be started at the moment.",
      "translations": [
        { "locale": "de_DE", "heading": "Ranglistenspiele nicht verfügbar" }
      ]
    }
  ]
}
)json";
    static const std::string euw = R"json({
  "status": "online",
  "messages": [
    {
      "created_at": "2024-05-12T07:00:00Z",
      "updated_at": "2024-05-12T07:00:00Z",
      "severity": "info",
      "heading": "New season",
      "content": "The new season starts on Friday.",
      "translations": [
        {
          "locale": "de_DE",
          "heading": "Neue Saison",
          "content": "Die neue Saison beginnt am Freitag."
        },
        {
          "locale": "en_GB",
          "heading": "New season",
          "content": "The new season begins on Friday."
        }
      ]
    }
  ]
}
)json";
    if (name == "na.json") {
        return na;
    }
    if (name == "euw.json") {
        return euw;
    }
    return std::nullopt;
}

const std::string& ExampleStatusPage() {
    static const std::string page = R"html(<!doctype html>
<html lang="en">
<head><meta charset="utf-8"><title>Example service status</title></head>
<body>
<h1>Example service status</h1>
<p>The example regions' status documents: <a href="na.json">NA</a>, <a href="euw.json">EUW</a>.</p>
</body>
</html>
)html";
    return page;
}

const std::string& StatusPage() {
    static const std::string page = R"html(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>vel-service-status</title>
<style>
  body { font-family: system-ui, sans-serif; margin: 2rem auto; max-width: 48rem; color: #222; }
  h1 { font-size: 1.4rem; }
  .badge { display: inline-block; padding: .2rem .7rem; border-radius: 1rem; color: #fff;
           background: #777; font-weight: 600; }
  .badge.online { background: #2a7d2a; } .badge.degraded { background: #b8860b; }
  .badge.offline { background: #b22222; } .badge.deploying { background: #3a5fb0; }
  #ticker { list-style: none; padding: 0; }
  #ticker li { border-left: .3rem solid #3a5fb0; padding: .4rem .8rem; margin: .5rem 0;
               background: #f4f6fa; }
  #ticker li.warn { border-color: #b8860b; } #ticker li.error { border-color: #b22222; }
  #ticker .heading { font-weight: 600; display: block; }
  #ticker .time { color: #666; font-size: .8rem; }
  #connection { color: #666; font-size: .85rem; }
  fieldset { margin-top: 1.5rem; border: 1px solid #ccc; }
  input { margin-right: .5rem; }
</style>
</head>
<body>
<h1>vel-service-status</h1>
<p>Status: <span id="status" class="badge">loading</span>
   <a id="status-link" href="#" hidden>status page</a></p>
<h2>Ticker</h2>
<ul id="ticker"><li id="ticker-empty">No messages</li></ul>
<p id="connection">connecting...</p>

<fieldset>
  <legend>Host events</legend>
  <form id="region-form">
    Region <input id="region" value="EUW" size="6">
    Locale <input id="locale" value="en_US" size="6">
    <button>Change region</button>
  </form>
  <form id="broadcast-form">
    Broadcast <input id="broadcast" value="Servers restart in 10 minutes" size="32">
    <select id="broadcast-severity"><option>info</option><option>warn</option>
      <option>error</option></select>
    <button>Send</button>
  </form>
</fieldset>

<script>
const STATUS = '/vel-service-status/v1/zum-status';
const TICKER = '/vel-service-status/v1/ticker-messages';
const LCDS_CLASS = 'com.korvelworks.platform.broadcast.BroadcastNotification';
let updates = 0;

function showStatus(resource) {
  const badge = document.getElementById('status');
  const status = resource && resource.status !== undefined ? String(resource.status) : 'unknown';
  badge.textContent = status;
  badge.className = 'badge ' + status;
  const link = document.getElementById('status-link');
  const url = resource && resource.humanReadableUrl;
  link.hidden = !url;
  if (url) link.href = url;
  document.body.dataset.updates = String(++updates);
}

function showTicker(messages) {
  const list = document.getElementById('ticker');
  const items = (Array.isArray(messages) ? messages : []).map(message => {
    const item = document.createElement('li');
    item.className = String(message.severity || 'info');
    if (message.heading) {
      const heading = document.createElement('span');
      heading.className = 'heading';
      heading.textContent = message.heading;
      item.append(heading);
    }
    item.append(document.createTextNode(message.message || ''));
    if (message.updatedAt) {
      const time = document.createElement('span');
      time.className = 'time';
      time.textContent = ' (' + message.updatedAt + ')';
      item.append(time);
    }
    return item;
  });
  if (items.length === 0) {
    const empty = document.createElement('li');
    empty.id = 'ticker-empty';
    empty.textContent = 'No messages';
    items.push(empty);
  }
  list.replaceChildren(...items);
  document.body.dataset.updates = String(++updates);
}

async function load(path, show) {
  try {
    const response = await fetch(path, { cache: 'no-store' });
    if (response.ok) show(await response.json());
  } catch (error) {
    document.getElementById('connection').textContent = 'cannot read ' + path;
  }
}

function post(event, payload) {
  return fetch('/host/events/' + encodeURIComponent(event), {
    method: 'POST', headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify(payload) });
}

const stream = new EventSource('/host/events');
stream.addEventListener('OnJsonApiEvent', event => {
  const change = JSON.parse(event.data);
  if (change.uri === STATUS) showStatus(change.data);
  if (change.uri === TICKER) showTicker(change.data);
});
stream.onopen = () => {
  document.getElementById('connection').textContent = 'live';
  load(STATUS, showStatus);
  load(TICKER, showTicker);
};
stream.onerror = () => {
  document.getElementById('connection').textContent = 'reconnecting...';
};

document.getElementById('region-form').addEventListener('submit', event => {
  event.preventDefault();
  post('OnRegionLocaleChanged', { region: document.getElementById('region').value,
                                  locale: document.getElementById('locale').value });
});
document.getElementById('broadcast-form').addEventListener('submit', event => {
  event.preventDefault();
  post('OnLcdsEvent_' + LCDS_CLASS.replaceAll('.', '_'), {
    clientId: 'vel-host', subtopic: 'broadcast', typeName: LCDS_CLASS,
    body: { broadcastMessages: [{
      content: document.getElementById('broadcast').value,
      messageKey: 'vel-host.broadcast',
      severity: document.getElementById('broadcast-severity').value }] } });
});
</script>
</body>
</html>
)html";
    return page;
}

} // namespace Korvel::VelHost
