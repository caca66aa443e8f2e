#include "web/router.h"

namespace velkantor::web {

// One page, its style and script inline: nothing is fetched from outside the station, and it
// reads only the /api/*.json answers and the pictures those name.
std::string_view page_html() {
    static constexpr std::string_view kPage = R"PAGE(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Seismic station</title>
<link rel="icon" href="data:,">
<style>
body{font-family:sans-serif;margin:0;padding:0 .6em 2em;background:#f6f6f3;color:#222}
h1{font-size:1.4em;margin:.5em 0 .1em}h2{font-size:1.1em;margin:1.2em 0 .4em}
.sub{color:#555;margin:0 0 .6em}
table{border-collapse:collapse;font-size:.9em}td,th{padding:.2em .6em;border-bottom:1px solid #ddd;text-align:left}
.ok{color:#070;font-weight:bold}.bad{color:#a00;font-weight:bold}
.pics{display:grid;grid-template-columns:repeat(auto-fill,minmax(min(100%,560px),1fr));gap:.6em}
.pics img{width:100%;display:block;background:#fff;border:1px solid #ccc}
figure{margin:0 0 1em}figcaption{font-size:.85em;color:#444}
canvas{width:100%;max-width:1200px;background:#fff;border:1px solid #ccc;display:block}
.spectrum{position:relative;max-width:1440px;padding:0 0 1.6em 3em}
.spectrum img{width:100%;display:block;background:#000}
.axis{position:absolute;font-size:.75em;color:#333;white-space:nowrap}
.legend span{display:inline-block;width:1.5em;height:.3em;background:#fff;border:1px solid #888;vertical-align:middle;margin:0 .3em 0 .8em}
.scroll{overflow-x:auto}
#noise [hidden]{display:none}#noise img{margin-top:.4em}
#stale{background:#fee;color:#a00;font-weight:bold;border:1px solid #a00;padding:.3em .6em;margin:.3em 0}
body.stale #state,body.stale #channels{opacity:.45}
</style></head><body>
<h1 id="title">Seismic station</h1>
<p class="sub" id="where"></p>
<h2>State</h2>
<p id="stale" hidden></p>
<div class="scroll"><table id="state"></table></div>
<div class="scroll"><table id="channels"></table></div>
<h2>Live trace</h2>
<label>Channel <select id="trace-channel"></select></label>
<span id="trace-note" class="sub"></span>
<canvas id="trace" width="1200" height="260"></canvas>
<h2>Recent events</h2>
<div class="scroll"><table id="events"><tr><td>loading</td></tr></table></div>
<h2>Drums</h2><div class="pics" id="drums"></div>
<h2>Spectra</h2><div id="spectra"></div>
<h2>Noise</h2>
<p class="sub">Each channel's power spectral density over the last whole hour (UTC), against the low and high noise models, and its picture over the day: how often each level occurred at each period, hour by hour.</p>
<div class="pics" id="noise"></div>
<script>
"use strict";
const $=id=>document.getElementById(id);
let state=null,traceCh=0,tracePts=[],traceSince=0,drumStamp={},answered=null,failing=false;
function esc(t){return String(t).replace(/[&<>"']/g,c=>({"&":"&amp;","<":"&lt;",">":"&gt;",'"':"&quot;","'":"&#39;"}[c]));}
function row(k,v){return "<tr><th>"+esc(k)+"</th><td>"+v+"</td></tr>";}
function bytes(n){if(n==null)return "unknown";const u=["B","kB","MB","GB","TB"];let i=0;while(n>=1000&&i<4){n/=1000;i++;}return n.toFixed(i?1:0)+" "+u[i];}
function timeLabel(s){return s.board_time?esc(s.board_time)+" board time, "+(s.clock_locked?"clock locked ("+esc(s.time_source)+")":"clock not locked"):"no board time yet";}
function getJSON(url){return fetch(url,{cache:"no-store",signal:AbortSignal.timeout(8000)}).then(r=>{if(!r.ok)throw new Error(url+": "+r.status);return r.json();});}
function showState(s){
 state=s;document.title=(s.title||s.station)+" - seismic station";
 $("title").textContent=s.title||s.station;
 $("where").textContent=s.station+" \u00b7 "+s.coordinates+" \u00b7 elevation "+s.elevation+" m";
 $("state").innerHTML=row("Acquiring",s.acquiring?'<span id="acquiring" class="ok">yes</span>':'<span id="acquiring" class="bad">no</span>')+
  row("Board",esc(s.board||"-")+" firmware "+esc(s.firmware||"-"))+
  row("Clock",'<span class="'+(s.clock_locked?"ok":"bad")+'">'+esc(s.lock)+"</span> "+esc(s.time_source))+
  row("Last board time",'<span id="board-time">'+timeLabel(s)+"</span>")+
  row("Bad frames",s.bad_frames)+row("Free disk",bytes(s.free_disk_bytes));
 let c="<tr><th>Channel</th><th>SEED</th><th>Configured sps</th><th>Measured sps</th></tr>";
 for(const ch of s.channels)c+="<tr><td>"+ch.channel+"</td><td>"+esc(ch.seed)+"</td><td>"+ch.configured_sps+"</td><td>"+ch.measured_sps+"</td></tr>";
 $("channels").innerHTML=c;
 const sel=$("trace-channel");
 if(sel.options.length!==s.channels.length){sel.innerHTML="";for(const ch of s.channels)sel.add(new Option(ch.channel+" "+ch.seed,ch.channel));
  if(s.channels.length&&!traceCh){traceCh=s.channels[0].channel;}sel.value=traceCh;}
 showPictures(s);
 showNoise(s);
}
// The noise of a channel changes once an hour: fetch its PSD and picture when it did.
function showNoise(s){
 const box=$("noise");
 for(const ch of s.channels){
  const n=ch.noise;if(!n)continue;
  let fig=$("noise-"+ch.channel);
  if(!fig){fig=document.createElement("figure");fig.id="noise-"+ch.channel;
   fig.innerHTML='<canvas class="psd" width="700" height="380"></canvas><figcaption></figcaption><img class="noise-day" hidden alt="">';box.append(fig);}
  const key=(n.last_hour||"")+"#"+(n.picture||"");
  if(fig.dataset.key===key)continue;fig.dataset.key=key;
  const img=fig.querySelector("img");
  if(n.picture){img.hidden=false;img.alt="noise of channel "+ch.channel+" over the day";img.src=n.picture+"?v="+encodeURIComponent(key);}
  if(!n.last_hour){fig.querySelector("canvas").hidden=true;
   fig.querySelector("figcaption").textContent="Channel "+ch.channel+" "+ch.seed+": the first PSD comes at the end of the first whole hour of samples."+(n.calibrated?"":" "+noteText(n.note));continue;}
  fig.querySelector("canvas").hidden=false;
  getJSON(n.psd).then(p=>drawPsd(fig,p)).catch(()=>{fig.dataset.key="";});
 }
}
function noteText(note){return note?"Levels in counts: "+note+" in the channel's settings.":"";}
function drawPsd(fig,p){
 const c=fig.querySelector("canvas"),g=c.getContext("2d"),w=c.width,h=c.height,L=50,R=w-12,T=12,B=h-30;
 g.fillStyle="#fff";g.fillRect(0,0,w,h);
 let lo=-200,hi=-50;
 if(!p.calibrated&&p.psd.length){const v=p.psd.map(q=>q[1]);lo=Math.floor(Math.min(...v)/10)*10-10;hi=Math.max(lo+60,Math.ceil(Math.max(...v)/10)*10+10);}
 const x=t=>L+(Math.log10(t)+2)/5*(R-L),y=d=>B-(d-lo)/(hi-lo)*(B-T);
 g.font="11px sans-serif";g.strokeStyle="#ddd";g.fillStyle="#333";g.lineWidth=1;
 for(let d=-2;d<=3;d++){const px=x(Math.pow(10,d));g.beginPath();g.moveTo(px,T);g.lineTo(px,B);g.stroke();g.fillText(String(Math.pow(10,d)),px-8,B+14);}
 for(let d=Math.ceil(lo/10)*10;d<=hi;d+=10){const py=y(d);g.beginPath();g.moveTo(L,py);g.lineTo(R,py);g.stroke();if(d%20===0)g.fillText(String(d),4,py+4);}
 g.fillText("period (s)",(L+R)/2-25,h-3);
 g.save();g.beginPath();g.rect(L,T,R-L,B-T);g.clip();
 const line=(pts,colour,width)=>{g.strokeStyle=colour;g.lineWidth=width;g.beginPath();pts.forEach((q,i)=>i?g.lineTo(x(q[0]),y(q[1])):g.moveTo(x(q[0]),y(q[1])));g.stroke();};
 if(p.calibrated){line(p.low_noise_model,"#777",2);line(p.high_noise_model,"#777",2);}
 line(p.psd,"#0033cc",2.5);
 g.restore();g.strokeStyle="#888";g.lineWidth=1;g.strokeRect(L,T,R-L,B-T);
 fig.querySelector("figcaption").textContent="Channel "+p.channel+" "+p.seed+": PSD of the hour from "+p.hour_start.replace("T"," ").replace(":00Z"," UTC")+", "+p.unit+
  (p.calibrated?"; grey: low and high noise models.":". "+noteText(p.note));
}
// A drum is saved every few minutes under the same name: fetch it again after each save.
function showPictures(s){
 const period=Math.max(1,s.drum_update_minutes||5)*60;
 const slot=s.board_time_epoch?Math.floor((s.board_time_epoch-10)/period):0;
 const box=$("drums");
 for(const ch of s.channels){
  if(!ch.drum)continue;
  let img=$("drum-"+ch.channel);
  if(!img){const f=document.createElement("figure");img=document.createElement("img");img.id="drum-"+ch.channel;img.className="drum";img.alt="drum of channel "+ch.channel;
   const cap=document.createElement("figcaption");cap.textContent="Channel "+ch.channel+" "+ch.seed+", today (board time)";f.append(img,cap);box.append(f);}
  const key=ch.drum+"#"+slot;
  if(drumStamp[ch.channel]!==key){drumStamp[ch.channel]=key;img.src=ch.drum+"?v="+slot;}
 }
 const sbox=$("spectra");
 for(const ch of s.channels){
  if(!ch.spectrum)continue;
  let box2=$("spectrum-"+ch.channel);
  if(!box2){box2=document.createElement("figure");box2.id="spectrum-"+ch.channel;sbox.append(box2);}
  const sp=ch.spectrum,key=sp.picture+"#"+Math.floor((s.board_time_epoch||0)/60);
  if(box2.dataset.key===key)continue;box2.dataset.key=key;
  box2.innerHTML=spectrumHTML(ch,sp,key);
 }
}
function spectrumHTML(ch,sp,key){
 let h='<div class="spectrum"><img alt="spectrum of channel '+ch.channel+'" src="'+esc(sp.picture)+"?v="+encodeURIComponent(key)+'">';
 if(sp.kind==="spectrum"){
  const lo=Math.abs(Math.log(sp.min_hz)),span=lo+Math.log(sp.max_hz);
  for(let d=-3;d<=4;d++){const f=Math.pow(10,d);if(f<sp.min_hz||f>sp.max_hz)continue;
   const x=(lo+Math.log(f))/span*100;h+='<span class="axis" style="left:calc(3em + '+x.toFixed(2)+'% * (1 - 3em / 100%));bottom:0">'+f+' Hz</span>';}
  h+='<span class="axis" style="right:0;bottom:0">'+sp.max_hz+' Hz</span>';
  for(let i=0;i<=4;i++){const db=sp.max_db+(sp.min_db-sp.max_db)*i/4;h+='<span class="axis" style="left:0;top:calc('+(i*25)+'% - '+(i*0.4)+'em)">'+Math.round(db)+' dB</span>';}
  h+='</div><figcaption>Channel '+ch.channel+' '+esc(ch.seed)+': level (dB) over frequency (logarithmic), latest block.<span class="legend"><span></span>noise models (low and high)</span></figcaption>';
 }else{
  h+='<span class="axis" style="left:0;top:0">'+sp.max_hz+' Hz</span><span class="axis" style="left:0;bottom:1.6em">0 Hz</span><span class="axis" style="left:3em;bottom:0">00:00</span><span class="axis" style="right:0;bottom:0">24:00</span>';
  h+='</div><figcaption>Channel '+ch.channel+' '+esc(ch.seed)+': frequency over the time of day (board time), colour = level.</figcaption>';
 }
 return h;
}
function showEvents(e){
 let h="<tr><th>Start ("+(e.clock_locked?"board time, locked":"board time, not locked")+")</th><th>Channel</th><th>Duration</th><th>Peak</th><th>STA/LTA</th><th>File</th></tr>";
 for(const ev of e.events){
  // An event still being recorded has its file but no log line yet.
  const dl=ev.download?'<a class="event-file'+(ev.samples?" done":"")+'" download href="'+esc(ev.download)+'">'+esc(ev.file)+"</a>":esc(ev.file);
  const ms=ev.mseed?' <a download href="'+esc(ev.mseed)+'">miniSEED</a>':"";
  h+="<tr><td>"+esc(ev.start)+"</td><td>"+(ev.channel||"-")+"</td><td>"+(ev.samples?ev.duration_s.toFixed(1)+" s":"-")+"</td><td>"+(ev.samples?ev.peak:"-")+"</td><td>"+(ev.samples?ev.max_sta_lta:"-")+"</td><td>"+dl+ms+"</td></tr>";
 }
 if(!e.events.length)h+='<tr><td colspan="6">none yet</td></tr>';
 $("events").innerHTML=h;
}
// What is shown is marked stale, not left looking current, when the board has sent nothing
// for a few seconds or the station itself does not answer.
function markStale(){
 let text="";
 if(failing)text="The station is not answering"+(answered?" (last answer at "+answered.toLocaleTimeString()+")":"")+": what is shown is out of date.";
 else if(state&&state.seconds_since_sample!=null&&state.seconds_since_sample>3)text="No samples from the board for "+Math.round(state.seconds_since_sample)+" s.";
 $("stale").textContent=text;$("stale").hidden=!text;document.body.classList.toggle("stale",!!text);
 const a=$("acquiring");if(failing&&a){a.className="bad";a.textContent="unknown";}
}
function pollState(){getJSON("api/state.json").then(s=>{failing=false;answered=new Date();showState(s);markStale();}).catch(()=>{failing=true;$("board-time")&&($("board-time").textContent="station not answering");markStale();});}
function pollEvents(){getJSON("api/events.json").then(showEvents).catch(()=>{});}
function pollTrace(){
 if(!traceCh)return;
 const ch=traceCh;
 getJSON("api/trace.json?channel="+ch+"&since="+traceSince).then(t=>{
  if(ch!==traceCh)return;
  for(const p of t.points)tracePts.push(p);
  if(tracePts.length)traceSince=tracePts[tracePts.length-1][0];
  const keep=traceSince-300000;while(tracePts.length&&tracePts[0][0]<keep)tracePts.shift();
  drawTrace();
 }).catch(()=>{});
}
function drawTrace(){
 const c=$("trace"),g=c.getContext("2d"),w=c.width,h=c.height;
 g.fillStyle="#fff";g.fillRect(0,0,w,h);
 if(!tracePts.length){$("trace-note").textContent="waiting for samples";return;}
 const end=tracePts[tracePts.length-1][0],start=end-300000;
 let lo=Infinity,hi=-Infinity;for(const p of tracePts){lo=Math.min(lo,p[1]);hi=Math.max(hi,p[2]);}
 if(hi-lo<10){hi+=5;lo-=5;}
 const y=v=>h-8-(v-lo)/(hi-lo)*(h-16);
 g.strokeStyle="#ddd";g.fillStyle="#666";g.font="11px sans-serif";
 for(let m=0;m<=5;m++){const x=w-m*w/5;g.beginPath();g.moveTo(x,0);g.lineTo(x,h);g.stroke();g.fillText(m?"-"+m+" min":"now",Math.max(2,x-34),h-2);}
 g.strokeStyle="#0033cc";g.beginPath();
 for(const p of tracePts){const x=(p[0]-start)/300000*w;g.moveTo(x,y(p[1]));g.lineTo(x+0.5,y(p[2]));}
 g.stroke();
 $("trace-note").textContent="last 5 minutes to "+new Date(end).toISOString().replace("T"," ").slice(0,19)+" board time, counts "+lo+" .. "+hi;
}
$("trace-channel").addEventListener("change",ev=>{traceCh=Number(ev.target.value);tracePts=[];traceSince=0;pollTrace();});
pollState();pollEvents();
setInterval(pollState,3000);setInterval(pollEvents,10000);setInterval(pollTrace,2000);
setTimeout(pollTrace,500);
</script></body></html>
)PAGE";
    return kPage;
}

}  // namespace velkantor::web
